// Reading the bad-file table.
#include "tests/bad_files/bad_file_table.h"

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
