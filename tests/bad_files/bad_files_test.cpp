// Every malformed file of tests/data/bad/ through the real sv-inspect and
// through the real demo, headless: each must end by exit (never a signal: no
// crash, no sanitizer abort in the sanitizer build), with the exit code and
// the message the table gives. One test per file and program, named after the
// file.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/bad_files/bad_file_table.h"
#include "tests/support/demo_runner.h"

namespace {

const std::string kBadDir = SV_BAD_FILES_DIR;

std::vector<BadFile> Table() {
  return LoadBadFileTable(kBadDir + "/outcomes.tsv");
}

// A test name from a file name: letters and digits, the rest '_'.
std::string TestName(const ::testing::TestParamInfo<BadFile>& info) {
  std::string name = info.param.file.empty() ? "malformed_row" : info.param.file;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name + "_" + std::to_string(info.index);
}

class BadFileThroughInspect : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadFileThroughInspect, ExitsWithTheDocumentedCodeAndMessage) {
  const BadFile& row = GetParam();
  ASSERT_FALSE(row.file.empty()) << "malformed table row: " << row.text;
  ASSERT_TRUE(row.reader == "model" || row.reader == "texture") << row.reader;
  const DemoRun run = RunInScratchFolder(SV_INSPECT_PATH, {row.reader, kBadDir + "/" + row.file});
  ASSERT_LT(run.exitCode, 128) << "sv-inspect ended by signal " << run.exitCode - 128 << "\n"
                               << run.err;
  EXPECT_EQ(run.exitCode, row.inspectExit) << run.out << run.err;
  const std::string& stream = row.stream == "out" ? run.out : run.err;
  EXPECT_NE(stream.find(row.text), std::string::npos)
      << "expected on standard " << (row.stream == "out" ? "output" : "error") << ": " << row.text
      << "\ngot:\n"
      << stream;
  // A failure is one line on standard error naming the file; a success says nothing there.
  if (row.inspectExit == 2) {
    EXPECT_NE(run.err.find(row.file), std::string::npos) << run.err;
  } else {
    EXPECT_EQ(run.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(AllBadFiles, BadFileThroughInspect, ::testing::ValuesIn(Table()),
                         TestName);

// The demo with the bad file as its model (and the shipped texture) or as its
// texture (and the shipped model), for two frames. An unusable model stops it
// before the loop with lines on standard error naming "shadow2.3DS" (one per
// object left out, then the reason it stops); every other file lets it run
// and close normally, with only warnings or notes that name the file.
class BadFileThroughDemo : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadFileThroughDemo, EndsWithTheDocumentedCode) {
  const BadFile& row = GetParam();
  ASSERT_FALSE(row.file.empty()) << "malformed table row: " << row.text;
  const std::string folder = MakeScratchFolder();
  ASSERT_FALSE(folder.empty());
  const std::string target = folder + (row.reader == "model" ? "/shadow2.3DS" : "/txt.tif");
  std::error_code error;
  std::filesystem::copy_file(kBadDir + "/" + row.file, target,
                             std::filesystem::copy_options::overwrite_existing, error);
  ASSERT_FALSE(error) << target << ": " << error.message();

  const DemoRun run = RunProgram(SV_DEMO_PATH, {"--headless", "--frames", "2"}, folder);
  ASSERT_LT(run.exitCode, 128) << "the demo ended by signal " << run.exitCode - 128 << "\n"
                               << run.err;
  EXPECT_EQ(run.exitCode, row.demoExit) << run.err;
  std::vector<std::string> messages;
  std::istringstream lines(run.err);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("title: ", 0) != 0) messages.push_back(line);
  }
  // Exit 2: lines naming the model, at least the reason it stops. Exit 0:
  // warnings or notes only, each naming the file the row is about.
  const std::string name = row.reader == "model" ? "shadow2.3DS: " : "txt.tif: ";
  if (row.demoExit == 2) {
    ASSERT_FALSE(messages.empty()) << run.err;
  }
  for (const std::string& message : messages) EXPECT_EQ(message.rfind(name, 0), 0u) << message;
  if (!HasFailure()) RemoveScratchFolder(folder);
}

INSTANTIATE_TEST_SUITE_P(AllBadFiles, BadFileThroughDemo, ::testing::ValuesIn(Table()), TestName);

// Paths that name no file to read: a directory, a FIFO nobody writes to, a
// device and a (sparse) file past the readers' 4 GiB cap, as the demo's model
// or texture and through sv-inspect. Each gives one line naming the path with
// what it is, at once (a FIFO is not waited on), and the documented outcome:
// a model stops the demo with exit 2, a texture leaves it untextured (exit 0).
TEST(SpecialPaths, GiveOneClearLineAndTheDocumentedOutcome) {
  struct Kind {
    const char* name;
    std::function<bool(const std::string&)> make;
    const char* phrase;
  };
  const Kind kinds[] = {
      {"directory", [](const std::string& p) { return mkdir(p.c_str(), 0700) == 0; },
       "is a directory"},
      {"fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; },
       "is a FIFO (named pipe), not a regular file"},
      {"device", [](const std::string& p) { return symlink("/dev/zero", p.c_str()) == 0; },
       "is a device or socket, not a regular file"},
      {"over-cap",
       [](const std::string& p) {
         std::FILE* f = std::fopen(p.c_str(), "wb");
         if (f) std::fclose(f);
         return f && truncate(p.c_str(), (int64_t{1} << 32) + 1) == 0;
       },
       "is larger than 4096 MiB"},
  };
  for (const Kind& kind : kinds) {
    for (const std::string reader : {"model", "texture"}) {
      SCOPED_TRACE(std::string(kind.name) + " as " + reader);
      const std::string folder = MakeScratchFolder();
      ASSERT_FALSE(folder.empty());
      const std::string name = reader == "model" ? "shadow2.3DS" : "txt.tif";
      std::filesystem::remove(folder + "/" + name);
      ASSERT_TRUE(kind.make(folder + "/" + name));

      const DemoRun demo = RunProgram(SV_DEMO_PATH, {"--headless", "--frames", "2"}, folder);
      EXPECT_EQ(demo.exitCode, reader == "model" ? 2 : 0) << demo.err;
      const std::vector<std::string> lines = LinesWithPrefix(demo.err, name + ": ");
      ASSERT_EQ(lines.size(), 1u) << demo.err;
      EXPECT_EQ(lines[0].rfind(kind.phrase, 0), 0u) << lines[0];

      const DemoRun inspect = RunProgram(SV_INSPECT_PATH, {reader, name}, folder);
      EXPECT_EQ(inspect.exitCode, 2);
      EXPECT_EQ(inspect.out, "");
      EXPECT_NE(inspect.err.find("sv-inspect: " + name + ": "), std::string::npos) << inspect.err;
      EXPECT_NE(inspect.err.find(kind.phrase), std::string::npos) << inspect.err;
      if (!HasFailure()) RemoveScratchFolder(folder);
    }
  }
}

// Cut-off copies of the shipped scene: the first 3000 bytes end inside its
// vertex list, which leaves nothing to draw (exit 2), the first 100000 inside
// its face list, which still draws. Either way the first line names the
// chunk and the offset, and sv-inspect prints it as a warning record.
TEST(CutOffModel, WarnsWithTheChunkAndTheOffset) {
  struct Case {
    uintmax_t size;
    int exitCode;
    std::vector<std::string> lines;  // the demo's lines naming the model, prefix removed
    const char* warning;
  };
  const Case cases[] = {
      {3000, 2,
       {"the file ends inside chunk 4110 at byte 3000",
        "object 0 \"ShadowScene\" is left out: it has no faces",
        "nothing to draw: none of its 1 mesh objects can be drawn"},
       "the file ends inside chunk 4110 at byte 3000"},
      {100000, 0,
       {"the file ends inside chunk 4120 at byte 100000; drawing what was read"},
       "the file ends inside chunk 4120 at byte 100000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const std::string folder = MakeScratchFolder();
    ASSERT_FALSE(folder.empty());
    std::filesystem::resize_file(folder + "/shadow2.3DS", c.size);
    const DemoRun demo = RunProgram(SV_DEMO_PATH, {"--headless", "--frames", "2"}, folder);
    EXPECT_EQ(demo.exitCode, c.exitCode) << demo.err;
    EXPECT_EQ(LinesWithPrefix(demo.err, "shadow2.3DS: "), c.lines) << demo.err;
    const DemoRun inspect = RunProgram(SV_INSPECT_PATH, {"model", "shadow2.3DS"}, folder);
    EXPECT_EQ(inspect.exitCode, 0);
    EXPECT_EQ(LinesWithPrefix(inspect.out, "warning "), std::vector<std::string>{c.warning})
        << inspect.out;
    if (!HasFailure()) RemoveScratchFolder(folder);
  }
}

// The table and the folder agree: every data file has exactly one row and
// every row a file, so a file added without its outcome (or a row left
// behind) fails here.
TEST(BadFileTable, ListsEveryFileOfTheFolderOnce) {
  const std::vector<BadFile> rows = Table();
  ASSERT_GT(rows.size(), 40u);
  std::set<std::string> inFolder;
  DIR* dir = opendir(kBadDir.c_str());
  ASSERT_NE(dir, nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    if (ext == ".3ds" || ext == ".tif") inFolder.insert(name);
  }
  closedir(dir);
  std::multiset<std::string> inTable;
  for (const BadFile& row : rows) inTable.insert(row.file);
  for (const std::string& name : inFolder) {
    EXPECT_EQ(inTable.count(name), 1u) << name << " must have exactly one row in outcomes.tsv";
  }
  for (const std::string& name : inTable) {
    EXPECT_EQ(inFolder.count(name), 1u) << name << " is in the table but not in the folder";
  }
}

}  // namespace
