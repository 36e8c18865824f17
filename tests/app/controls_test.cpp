// The controls table and the three texts made from it: --help's lines stay
// within 80 columns and name every row, and the README's Keys section holds
// exactly the table's Markdown, so the documentation cannot drift.
#include "app/controls.h"

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// The Markdown table of the README's "## Keys" section: its lines that start
// with '|', up to the first other line after them.
std::string ReadmeKeysTable() {
  std::ifstream in(SV_README_PATH);
  std::string line, table;
  bool inSection = false;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) inSection = line == "## Keys";
    if (!inSection) continue;
    if (line.rfind("|", 0) == 0) {
      table += line + "\n";
    } else if (!table.empty()) {
      break;
    }
  }
  return table;
}

TEST(Controls, ReadmeKeysSectionIsTheTable) {
  EXPECT_EQ(ReadmeKeysTable(), ControlsMarkdown());
}

TEST(Controls, HelpTextNamesEveryRowWithin80Columns) {
  const std::vector<std::string> lines = ControlsText(80);
  std::string all;
  for (const std::string& line : lines) {
    EXPECT_LE(line.size(), 80u) << line;
    all += line + "\n";
  }
  for (const ControlRow& row : Controls()) {
    EXPECT_NE(all.find(std::string("  ") + row.input), std::string::npos) << row.input;
    // The action's last word closes one of the lines.
    const std::string action = row.action;
    EXPECT_NE(all.find(action.substr(action.rfind(' ') + 1) + "\n"), std::string::npos)
        << row.action;
  }
  // The overlay's form: the input, a tab, the action; wrapped lines start
  // with the tab.
  for (const std::string& line : ControlsText(64, true))
    EXPECT_TRUE(line.find('\t') != std::string::npos || line.find(": ") != std::string::npos)
        << line;
}

// The page's table: the window's rows in their order, except that nothing
// names F12 (the browser's), a window, or tracing (the page never traces),
// and P is there, as a download.
TEST(Controls, PageTableIsTheWindowsWithoutWhatThePageLacks) {
  const std::vector<ControlRow>& window = Controls(ControlsHost::kWindow);
  const std::vector<ControlRow>& page = Controls(ControlsHost::kPage);
  size_t next = 0, kept = 0;
  bool screenshot = false;
  for (const ControlRow& row : page) {
    const std::string text = std::string(row.input) + " " + row.action;
    for (const char* word : {"F12", "Alt+F4", "window", "traced", "truth"})
      EXPECT_EQ(text.find(word), std::string::npos) << text;
    if (std::string(row.input) == "P") screenshot = text.find("download") != std::string::npos;
    for (size_t i = next; i < window.size(); ++i) {
      if (std::string(window[i].input) == row.input &&
          std::string(window[i].action) == row.action) {
        next = i + 1;
        ++kept;
        break;
      }
    }
  }
  EXPECT_TRUE(screenshot);
  EXPECT_LT(page.size(), window.size());
  EXPECT_GE(kept, window.size() - 6);  // the few rows the page words otherwise or leaves out
  std::string overlay;
  for (const std::string& line : ControlsText(64, true, ControlsHost::kPage))
    overlay += line + "\n";
  EXPECT_EQ(overlay.find("F12"), std::string::npos);
  EXPECT_NE(overlay.find("\tdownload the frame"), std::string::npos);
}

}  // namespace
