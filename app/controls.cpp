// The controls table and its three renderings.
#include "app/controls.h"

namespace {

constexpr size_t kInputColumn = 20;  // characters of the input column in text form

// A window row the page shows otherwise: its input, and the page's row
// (a null input leaves the row out).
struct PageRow {
  const char* windowInput;
  ControlRow page;
};

std::vector<ControlRow> PageRows(const std::vector<ControlRow>& windowRows) {
  static const PageRow changes[] = {
      {"S", {"S", "cycle the shadows: blend, exact, off"}},
      {"T", {nullptr, nullptr}},
      {"+ / -",
       {"+ / -", "light size: radius 1 unit more / less (0 to 20, 0 a point); soft shadows in "
                 "exact mode"}},
      {"P, F12", {"P", "download the frame as shadow-volume-NNNN.png"}},
      {"Drop a file",
       {"Drop or pick files",
        "a model (with its .bin, .mtl and textures) replaces the model, an image (.tif .png .jpg "
        ".bmp .tga) the texture"}},
      {"Escape, Alt+F4, the window's close button", {"Escape", "stop the demo"}},
  };
  std::vector<ControlRow> rows;
  for (const ControlRow& row : windowRows) {
    const PageRow* change = nullptr;
    for (const PageRow& candidate : changes)
      if (std::string(candidate.windowInput) == row.input) change = &candidate;
    if (change == nullptr) {
      rows.push_back(row);
    } else if (change->page.input != nullptr) {
      rows.push_back(change->page);
    }
  }
  return rows;
}

}  // namespace

ControlsHost BuildControlsHost() {
#ifdef SV_CONTROLS_FOR_PAGE
  return ControlsHost::kPage;
#else
  return ControlsHost::kWindow;
#endif
}

const std::vector<ControlRow>& Controls(ControlsHost host) {
  static const std::vector<ControlRow> rows = {
      {"Left-drag", "orbit the camera around the origin, 0.5 degrees per pixel"},
      {"Right-drag", "pan: the point under the cursor stays under it"},
      {"Wheel", "zoom: each notch moves the camera 10% of its distance to the origin"},
      {"Up / Down", "camera forward / back 1 unit"},
      {"Left / Right", "camera left / right 1 unit"},
      {"Home / End",
       "light mode: light up / down 2 units; camera mode: view tilts up / down 1 degree"},
      {"Delete / Page Down",
       "light mode: light left / right 2 units; camera mode: view turns left / right 1 degree"},
      {"Page Up / Insert",
       "light mode: light away / nearer 2 units; camera mode: image turns 1 degree clockwise / "
       "counter-clockwise"},
      {"Tab", "switch between light mode (at start) and camera mode"},
      {"S", "cycle the shadows: blend, exact, traced, off"},
      {"T", "truth view: red where the shadow is wrongly dark, blue where wrongly lit"},
      {"V", "show or hide the shadow volumes"},
      {"+ / -",
       "light size: radius 1 unit more / less (0 to 20, 0 a point); soft shadows in exact and "
       "traced modes"},
      {"R", "camera and light back to their start positions"},
      {"Space", "a model that moves: pause or play"},
      {"[ / ]", "a model that moves: previous / next clip, from its start"},
      {", / .", "a model that moves, paused: 1/30 s back / forward"},
      {"P, F12", "save the frame as shadow-volume-NNNN.png in the current directory"},
      {"H, F1", "show or hide this help"},
      {"F11", "fullscreen on / off"},
      {"Drop a file", "a model replaces the model, an image (.tif .png .jpg .bmp .tga) the texture"},
      {"Escape, Alt+F4, the window's close button", "quit (exit code 0)"},
  };
  static const std::vector<ControlRow> pageRows = PageRows(rows);
  return host == ControlsHost::kPage ? pageRows : rows;
}

std::vector<std::string> ControlsText(size_t width, bool tabbed, ControlsHost host) {
  std::vector<std::string> lines;
  const std::string indent = tabbed ? "\t" : std::string(2 + kInputColumn + 1, ' ');
  for (const ControlRow& row : Controls(host)) {
    const std::string input = row.input;
    std::string line = (tabbed ? "" : "  ") + input;
    if (tabbed && input.size() <= kInputColumn) {
      line += "\t";
    } else if (input.size() <= kInputColumn) {
      line += std::string(kInputColumn + 1 - input.size(), ' ');
    } else {
      line += ": ";
    }
    // Words of the action, wrapped under the action column.
    const std::string action = row.action;
    size_t start = 0;
    bool lineHasWord = false;
    while (start < action.size()) {
      size_t end = action.find(' ', start);
      if (end == std::string::npos) end = action.size();
      const std::string word = action.substr(start, end - start);
      if (lineHasWord && line.size() + 1 + word.size() > width) {
        lines.push_back(line);
        line = indent;
        lineHasWord = false;
      }
      line += (lineHasWord ? " " : "") + word;
      lineHasWord = true;
      start = end + 1;
    }
    lines.push_back(line);
  }
  return lines;
}

std::string ControlsMarkdown() {
  std::string text = "| key or mouse | action |\n|---|---|\n";
  for (const ControlRow& row : Controls())
    text += std::string("| ") + row.input + " | " + row.action + " |\n";
  return text;
}
