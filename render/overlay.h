// A panel of text drawn over the finished frame: the help overlay. The text
// is drawn with stb_easy_font as coloured quads, every vertex carrying its
// colour (the web build's emulated immediate mode needs that), in window
// pixels, with no depth test and none of the frame's GL_EQUAL passes. Needs a
// current OpenGL context.
#pragma once

#include <string>
#include <vector>

// Draws `lines` top left in a translucent dark box over the client area of
// `clientWidth` x `clientHeight` pixels, as large as fits (twice the font's
// size at most, its own size at least). A tab splits a line into two
// columns: what follows it starts where the widest first column ends. Other
// characters outside ASCII 32..126 show as '?'. Every OpenGL state it changes is put back as it was, so the next
// frame's passes start as they would have without it.
void DrawTextPanel(const std::vector<std::string>& lines, int clientWidth, int clientHeight);

// The width in font pixels (scale 1) of the widest line, columns included.
int TextPanelWidth(const std::vector<std::string>& lines);
