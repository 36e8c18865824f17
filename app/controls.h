// The one table of what the keys and the mouse do. The --help text, the help
// overlay (H or F1) and the README's Keys section are all made from it, so
// they cannot disagree; a test compares the README with ControlsMarkdown().
// It documents the handlers (keyboard.cpp, viewer_input.cpp); it does not
// drive them.
#pragma once

#include <string>
#include <vector>

// One row: the keys or mouse action, and what it does.
struct ControlRow {
  const char* input;   // "Up / Down", "Left-drag", "Escape, Alt+F4, ..."
  const char* action;  // one sentence without a final full stop
};

// Where the keys are read. In the web page the browser keeps F12 (its
// developer tools), a screenshot is a download, Escape stops the demo rather
// than closing a window, and nothing traces, so a few rows read otherwise.
enum class ControlsHost { kWindow, kPage };

// The host of this build: the page in the web build, a window otherwise.
ControlsHost BuildControlsHost();

// Every row, in the order shown. The page's table is the window's with those
// rows rewritten or left out, in the same order.
const std::vector<ControlRow>& Controls(ControlsHost host = ControlsHost::kWindow);

// The rows as plain text lines, two leading spaces, the input padded to 20
// columns and the action wrapped at `width` columns under itself; an input
// longer than the column is followed by ": " and the action. Used by --help
// (width 80). With `tabbed`, for the overlay's proportional font, the input
// column is ended by a tab instead of spaces (continuation lines start with
// the tab) and there are no leading spaces.
std::vector<std::string> ControlsText(size_t width, bool tabbed = false,
                                      ControlsHost host = ControlsHost::kWindow);

// The README's Keys table (the window's): a header row, a separator and one row per entry,
// each line ending in '\n'.
std::string ControlsMarkdown();
