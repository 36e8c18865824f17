// Runs the real shadow_volume binary (or a tool such as make-scene) for
// end-to-end tests: in a scratch folder of its own (empty, or holding the
// shipped scene files when the build has made them), with chosen environment
// changes, collecting its exit code and output. Arguments go straight to
// exec, never through a shell.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct DemoRun {
  int exitCode = -1;  // the exit status; 128 + signal when killed
  std::string out;    // standard output
  std::string err;    // standard error
};

// A new empty folder under the test's temporary directory, its name starting
// with `tag` and made unique by mkdtemp; "" when it cannot be made.
std::string MakeEmptyScratchFolder(const std::string& tag = "sv-e2e");

// A new folder as MakeEmptyScratchFolder makes, with copies of "shadow2.3DS"
// and "txt.tif" from the build's scene folder when present.
std::string MakeScratchFolder();

// Removes a scratch folder and everything in it.
void RemoveScratchFolder(const std::string& folder);

// Runs `program` with `args` in `folder`; `unset` names variables removed
// from the environment, `set` adds or replaces some.
DemoRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& folder, const std::vector<std::string>& unset = {},
                   const std::vector<std::pair<std::string, std::string>>& set = {});

// Runs `program` with `args` in an empty scratch folder of its own, removed
// afterwards: for tools such as sv-inspect whose arguments are absolute paths.
DemoRun RunInScratchFolder(const std::string& program, const std::vector<std::string>& args);

// The lines of `text` that start with `prefix`, prefix removed.
std::vector<std::string> LinesWithPrefix(const std::string& text, const std::string& prefix);
