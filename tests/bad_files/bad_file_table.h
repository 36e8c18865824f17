// The table of malformed files (tests/data/bad/outcomes.tsv) and a runner
// that starts a program and reports how it ended, shared by the tests that
// feed those files to sv-inspect and to the demo.
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

// How a child process ended.
struct RunResult {
  bool exited;      // ended by exit, not by a signal
  int exitCode;     // when exited
  int signal;       // when not exited
  std::string out;  // its standard output
  std::string err;  // its standard error
};

// Runs argv[0] with the arguments in `workDir` (empty: the current one),
// capturing both output streams through files in `scratchDir`.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& workDir,
                     const std::string& scratchDir);
