// Reading the bad-file table and running a program with captured output.
#include "tests/bad_files/bad_file_table.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// Turns the two-character escapes \n, \t and \\ into their bytes.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[i + 1];
      if (next == 'n' || next == 't' || next == '\\') {
        out += next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::vector<BadFile> LoadBadFileTable(const std::string& path) {
  std::vector<BadFile> rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> f = SplitTabs(line);
    if (f.size() != 6) {
      rows.push_back(BadFile{"", "", -1, "", line, -1});
      continue;
    }
    rows.push_back(BadFile{f[0], f[1], std::atoi(f[2].c_str()), f[3], Unescape(f[4]),
                           std::atoi(f[5].c_str())});
  }
  return rows;
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& workDir,
                     const std::string& scratchDir) {
  const std::string base = scratchDir + "/run-" + std::to_string(getpid());
  const std::string outPath = base + ".out", errPath = base + ".err";
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (!std::freopen(outPath.c_str(), "wb", stdout) ||
        !std::freopen(errPath.c_str(), "wb", stderr) ||
        (!workDir.empty() && chdir(workDir.c_str()) != 0)) {
      _exit(127);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  RunResult result{WIFEXITED(status), WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                   WIFSIGNALED(status) ? WTERMSIG(status) : 0, ReadAll(outPath), ReadAll(errPath)};
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
}
