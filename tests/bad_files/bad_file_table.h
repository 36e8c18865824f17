// The table of malformed files (tests/data/bad/outcomes.tsv), shared by the
// tests that feed those files to sv-inspect and to the demo.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// One row of outcomes.tsv.
struct BadFile {
  std::string file;    // name in tests/data/bad/
  std::string reader;  // "model" or "texture"
  int inspectExit;     // sv-inspect's exit code: 0 or 2
  std::string stream;  // "out" or "err": where the text must appear
  std::string text;    // expected text, with \n and \t already turned into bytes
  int demoExit;        // the demo's exit code with this file as its model or texture
};

// Test output names a row by its file.
inline void PrintTo(const BadFile& row, std::ostream* out) {
  *out << row.file;
}

// Every row of the table at `path`; comment lines (#) and blank lines are
// skipped. A malformed row becomes a row with an empty file name, which the
// tests report as a failure.
std::vector<BadFile> LoadBadFileTable(const std::string& path);
