// The whole-file reader against a file that changes while it is read: a
// save in place (truncated, then written) or one that appends. The change is
// made at the reader's one seam, between taking the size and reading, so
// every case is deterministic.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "io/whole_file.h"
#include "model/load3ds.h"
#include "model/load_model.h"
#include "tests/support/scratch.h"
#include "tools/chunk_writer.h"

namespace {

std::string changedPath;  // the file the hooks change

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);
  // A modification time long past, so a write during the read always moves
  // it, however coarse the file system's clock.
  const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
}

void Append(const char* bytes) {
  std::FILE* out = std::fopen(changedPath.c_str(), "ab");
  std::fputs(bytes, out);
  std::fclose(out);
}

struct Change {
  const char* name;
  BeforeReadHook act;  // null: the file stays as it is
  FileFailure expected;
};

void PrintTo(const Change& change, std::ostream* out) {
  *out << change.name;
}

class WholeFileChange : public ::testing::TestWithParam<Change> {
 protected:
  void TearDown() override { SetBeforeReadHook(nullptr); }
};

TEST_P(WholeFileChange, AChangeDuringTheReadIsABrokenSaveNeverBytes) {
  const Change& change = GetParam();
  static const std::string folder = ScratchFolder("whole-file");
  changedPath = folder + "/" + change.name + ".bin";
  const std::string content(100000, 'a');
  WriteFile(changedPath, content);
  SetBeforeReadHook(change.act);
  const FileBytes file = ReadWholeFile(changedPath.c_str(), kModelFileLimits);
  SetBeforeReadHook(nullptr);
  EXPECT_EQ(file.failure, change.expected);
  if (change.expected == FileFailure::kNone) {
    ASSERT_EQ(file.size, content.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data), file.size), content);
  } else {
    EXPECT_EQ(file.data, nullptr);
    EXPECT_EQ(file.size, 0u);
    EXPECT_EQ(DescribeFileFailure(file, kModelFileLimits),
              "changed while it was read (a save still in progress?)");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Saves, WholeFileChange,
    ::testing::Values(
        Change{"untouched", nullptr, FileFailure::kNone},
        Change{"shrunk", [](int) { ASSERT_EQ(truncate(changedPath.c_str(), 50000), 0); },
               FileFailure::kChangedWhileRead},
        Change{"emptied", [](int) { ASSERT_EQ(truncate(changedPath.c_str(), 0), 0); },
               FileFailure::kChangedWhileRead},
        Change{"grown", [](int) { Append("more"); }, FileFailure::kChangedWhileRead},
        Change{"rewritten-same-size",
               [](int) {
                 const int fd = open(changedPath.c_str(), O_WRONLY);
                 ASSERT_GE(fd, 0);
                 ASSERT_EQ(pwrite(fd, "bbbb", 4, 500), 4);
                 close(fd);
               },
               FileFailure::kChangedWhileRead}),
    [](const ::testing::TestParamInfo<Change>& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (c == '-') c = '_';
      return name;
    });

// The model loader hands the change on: a broken save is said as such,
// and no scene is made of it.
TEST(WholeFile, ModelChangedWhileReadIsNotLoaded) {
  ChunkWriter w;
  w.Begin(0x4D4D);
  w.Begin(0x3D3D);
  w.End();
  w.End();
  changedPath = ScratchPath("model.3ds");
  WriteFile(changedPath, std::string(w.Bytes().begin(), w.Bytes().end()));
  SetBeforeReadHook([](int) { Append("xx"); });
  const ModelLoad load = LoadModel(changedPath);
  SetBeforeReadHook(nullptr);
  EXPECT_EQ(load.scene, nullptr);
  EXPECT_EQ(load.fileFailure, FileFailure::kChangedWhileRead);
  EXPECT_EQ(load.problem, "changed while it was read (a save still in progress?)");
  const ModelLoad again = LoadModel(changedPath);  // the save has ended
  EXPECT_EQ(again.fileFailure, FileFailure::kNone);
  EXPECT_EQ(again.problem, "");
  FreeScene(again.scene);
}

// A descriptor is read whole from its start, wherever its offset stands; a
// /proc file, whose size stat does not tell, is read to its end.
TEST(WholeFile, OpenDescriptorsAndProcFilesAreReadWhole) {
  const std::string path = ScratchPath("offset.bin");
  WriteFile(path, "0123456789");
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(lseek(fd, 7, SEEK_SET), 7);
  const FileBytes file = ReadOpenFile(fd, kModelFileLimits);
  close(fd);
  ASSERT_EQ(file.failure, FileFailure::kNone);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data), file.size), "0123456789");

  const FileBytes status = ReadWholeFile("/proc/self/status", kModelFileLimits);
  ASSERT_EQ(status.failure, FileFailure::kNone);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(status.data), 5), "Name:");
}

}  // namespace
