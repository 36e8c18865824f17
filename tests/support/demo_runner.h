// Runs the real shadow_volume binary (or a tool such as make-scene) for
// end-to-end tests: in a scratch folder of its own (empty, or holding the
// shipped scene files when the build has made them), with chosen environment
// changes, collecting its exit code and output. Arguments go straight to
// exec, never through a shell.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch.h"

struct DemoRun {
  int exitCode = -1;  // the exit status; 128 + signal when killed
  std::string out;    // standard output
  std::string err;    // standard error
};

// Runs `program` with `args` in `folder`; `unset` names variables removed
// from the environment, `set` adds or replaces some.
DemoRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& folder, const std::vector<std::string>& unset = {},
                   const std::vector<std::pair<std::string, std::string>>& set = {});

// Runs `program` with `args` in an empty scratch folder of its own, removed
// afterwards: for tools such as sv-inspect whose arguments are absolute paths.
DemoRun RunInScratchFolder(const std::string& program, const std::vector<std::string>& args);

// The whole file at `path`; "" when it cannot be read.
std::string ReadTextFile(const std::string& path);

// The lines of `text` that start with `prefix`, prefix removed.
std::vector<std::string> LinesWithPrefix(const std::string& text, const std::string& prefix);
