// A panel of text drawn over the finished frame: the help overlay. The text
// is laid out with stb_easy_font as coloured quads, every vertex carrying its
// colour (the web build's emulated OpenGL needs that), in window pixels, and
// drawn from client-side vertex arrays with no depth test and none of the
// frame's GL_EQUAL passes. The quads are kept in a TextPanel the caller owns
// and made again only when the text or the client size changes. Needs a
// current OpenGL context.
#pragma once

#include <string>
#include <vector>

// The laid-out panel: what it was made from, and its quads.
struct TextPanel {
  std::vector<std::string> lines;  // the text the quads show
  int clientWidth = 0;             // the client size they were laid out for, pixels
  int clientHeight = 0;
  std::vector<float> positions;        // x, y per vertex, window pixels, y down
  std::vector<unsigned char> colours;  // r, g, b, a per vertex
};

// Draws `lines` top left in a translucent dark box over the client area of
// `clientWidth` x `clientHeight` pixels, as large as fits (twice the font's
// size at most, its own size at least). A tab splits a line into two
// columns: what follows it starts where the widest first column ends. Other
// characters outside ASCII 32..126 show as '?'. Every OpenGL state it
// changes is put back as it was, so the next frame's passes start as they
// would have without it. `panel` keeps the quads between calls.
void DrawTextPanel(TextPanel* panel, const std::vector<std::string>& lines, int clientWidth,
                   int clientHeight);

// The width in font pixels (scale 1) of the widest line, columns included.
int TextPanelWidth(const std::vector<std::string>& lines);
