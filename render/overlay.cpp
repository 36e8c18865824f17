// The text panel: stb_easy_font fills a buffer of ours with quads (x, y, z
// floats and four colour bytes per vertex, 16 bytes), which are sent in
// immediate mode, scaled and placed.
#include "render/overlay.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstring>

// The header defines every function static; the program uses two of them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_easy_font.h>
#pragma GCC diagnostic pop

namespace {

constexpr int kLineHeight = 12;   // stb_easy_font's line step, font pixels
constexpr float kMargin = 12.0f;  // window pixels between the box and the window edge
constexpr float kPadding = 8.0f;  // window pixels between the box and the text
constexpr float kMaxScale = 2.0f;
constexpr size_t kBytesPerChar = 16 * 4 * 24;  // more than the busiest glyph's quads

// The line with every byte outside 32..126 replaced by '?': stb_easy_font
// indexes its tables with the byte unchecked.
std::string Printable(const std::string& line) {
  std::string text = line;
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
  return text;
}

// A line split at its first tab: `first` is the whole line when it has none.
struct Columns {
  std::string first, second;
  bool split = false;
};

Columns SplitColumns(const std::string& line) {
  const size_t tab = line.find('\t');
  if (tab == std::string::npos) return {Printable(line), "", false};
  return {Printable(line.substr(0, tab)), Printable(line.substr(tab + 1)), true};
}

int TextWidth(std::string text) {
  return stb_easy_font_width(text.data());
}

// Where the second column starts, font pixels: past the widest first column
// of a split line, with a gap.
int SecondColumn(const std::vector<std::string>& lines) {
  constexpr int kGap = 12;
  int widest = 0;
  for (const std::string& line : lines) {
    const Columns columns = SplitColumns(line);
    if (columns.split) widest = std::max(widest, TextWidth(columns.first));
  }
  return widest + kGap;
}

// Appends the quads of `text` with its top left at (x, y) window pixels.
void AppendText(const std::string& text, float x, float y, float scale, std::vector<char>* buffer,
                TextPanel* panel) {
  if (text.empty()) return;
  std::string copy = text;
  buffer->assign(copy.size() * kBytesPerChar + 64, 0);
  unsigned char white[4] = {255, 255, 255, 255};
  const int quads = stb_easy_font_print(0.0f, 0.0f, copy.data(), white, buffer->data(),
                                        static_cast<int>(buffer->size()));
  for (int v = 0; v < quads * 4; ++v) {
    float xyz[3];
    unsigned char rgba[4];
    std::memcpy(xyz, &(*buffer)[static_cast<size_t>(v) * 16], sizeof xyz);
    std::memcpy(rgba, &(*buffer)[static_cast<size_t>(v) * 16 + 12], sizeof rgba);
    panel->positions.insert(panel->positions.end(), {x + xyz[0] * scale, y + xyz[1] * scale});
    panel->colours.insert(panel->colours.end(), rgba, rgba + 4);
  }
}

// Lays the panel out: the translucent box, then the text's quads.
void LayOut(TextPanel* panel, const std::vector<std::string>& lines, int clientWidth,
            int clientHeight) {
  panel->lines = lines;
  panel->clientWidth = clientWidth;
  panel->clientHeight = clientHeight;
  panel->positions.clear();
  panel->colours.clear();
  const float textWidth = static_cast<float>(std::max(1, TextPanelWidth(lines)));
  const float textHeight = static_cast<float>(lines.size() * kLineHeight);
  const float room = 2 * (kMargin + kPadding);
  const float scale = std::max(1.0f, std::min({kMaxScale, (clientWidth - room) / textWidth,
                                               (clientHeight - room) / textHeight}));
  const float left = kMargin, top = kMargin;
  const float right = left + 2 * kPadding + textWidth * scale;
  const float bottom = top + 2 * kPadding + textHeight * scale;
  panel->positions = {left, top, right, top, right, bottom, left, bottom};
  panel->colours = {0, 0, 0, 178, 0, 0, 0, 178, 0, 0, 0, 178, 0, 0, 0, 178};  // 70% black
  std::vector<char> buffer;
  const float second = static_cast<float>(SecondColumn(lines)) * scale;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Columns columns = SplitColumns(lines[i]);
    const float x = left + kPadding, y = top + kPadding + i * kLineHeight * scale;
    AppendText(columns.first, x, y, scale, &buffer, panel);
    AppendText(columns.second, x + second, y, scale, &buffer, panel);
  }
}

// The OpenGL state the panel changes, as it was.
struct SavedState {
  GLboolean depthTest, blend, texture, cull, depthMask;
  GLint blendSource, blendDestination, matrixMode;
  GLfloat colour[4];
};

SavedState Save() {
  SavedState s{};
  s.depthTest = glIsEnabled(GL_DEPTH_TEST);
  s.blend = glIsEnabled(GL_BLEND);
  s.texture = glIsEnabled(GL_TEXTURE_2D);
  s.cull = glIsEnabled(GL_CULL_FACE);
  glGetBooleanv(GL_DEPTH_WRITEMASK, &s.depthMask);
  glGetIntegerv(GL_BLEND_SRC, &s.blendSource);
  glGetIntegerv(GL_BLEND_DST, &s.blendDestination);
  glGetIntegerv(GL_MATRIX_MODE, &s.matrixMode);
  glGetFloatv(GL_CURRENT_COLOR, s.colour);
  return s;
}

void Enable(GLenum capability, GLboolean on) {
  if (on) {
    glEnable(capability);
  } else {
    glDisable(capability);
  }
}

void Restore(const SavedState& s) {
  Enable(GL_DEPTH_TEST, s.depthTest);
  Enable(GL_BLEND, s.blend);
  Enable(GL_TEXTURE_2D, s.texture);
  Enable(GL_CULL_FACE, s.cull);
  glDepthMask(s.depthMask);
  glBlendFunc(static_cast<GLenum>(s.blendSource), static_cast<GLenum>(s.blendDestination));
  glColor4fv(s.colour);
  glMatrixMode(static_cast<GLenum>(s.matrixMode));
}

}  // namespace

int TextPanelWidth(const std::vector<std::string>& lines) {
  const int second = SecondColumn(lines);
  int widest = 0;
  for (const std::string& line : lines) {
    const Columns columns = SplitColumns(line);
    widest = std::max(
        widest, columns.split ? second + TextWidth(columns.second) : TextWidth(columns.first));
  }
  return widest;
}

void DrawTextPanel(TextPanel* panel, const std::vector<std::string>& lines, int clientWidth,
                   int clientHeight) {
  if (lines.empty() || clientWidth <= 0 || clientHeight <= 0) return;
  if (panel->lines != lines || panel->clientWidth != clientWidth ||
      panel->clientHeight != clientHeight)
    LayOut(panel, lines, clientWidth, clientHeight);
  const SavedState saved = Save();
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  // Window pixels, y down, as the font's coordinates run.
  glOrtho(0, clientWidth, clientHeight, 0, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
  glDepthMask(GL_FALSE);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glVertexPointer(2, GL_FLOAT, 0, panel->positions.data());
  glColorPointer(4, GL_UNSIGNED_BYTE, 0, panel->colours.data());
  glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(panel->positions.size() / 2));
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);

  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  Restore(saved);
}
