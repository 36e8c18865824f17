// Process plumbing for the end-to-end tests: fork, redirect, chdir, exec,
// wait. POSIX only, like the rest of the Linux build.
#include "tests/support/demo_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

DemoRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& folder, const std::vector<std::string>& unset,
                   const std::vector<std::pair<std::string, std::string>>& set) {
  DemoRun run;
  std::string outPath = folder + "/.stdout";
  std::string errPath = folder + "/.stderr";
  pid_t child = fork();
  if (child < 0) return run;
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    if (!std::freopen(outPath.c_str(), "w", stdout) ||
        !std::freopen(errPath.c_str(), "w", stderr)) {
      _exit(126);
    }
    for (const std::string& name : unset) unsetenv(name.c_str());
    for (const auto& pair : set) setenv(pair.first.c_str(), pair.second.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) == child) {
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  run.out = ReadTextFile(outPath);
  run.err = ReadTextFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return run;
}

DemoRun RunInScratchFolder(const std::string& program, const std::vector<std::string>& args) {
  const std::string folder = MakeEmptyScratchFolder("sv-tool");
  if (folder.empty()) return DemoRun{};
  DemoRun run = RunProgram(program, args, folder);
  RemoveScratchFolder(folder);
  return run;
}

std::vector<std::string> LinesWithPrefix(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line.substr(prefix.size()));
  }
  return lines;
}
