// mkdtemp-made scratch folders and their clean-up; see scratch.h.
#include "tests/support/scratch.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

namespace {

void CopyIfPresent(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return;
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
}

// Removes the folders ScratchFolder made after a run in which every test
// passed; after a failure they stay.
class ScratchFolders : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!::testing::UnitTest::GetInstance()->Passed()) return;
    for (const std::string& folder : folders) RemoveScratchFolder(folder);
  }
  std::vector<std::string> folders;
};

ScratchFolders* const scratchFolders =
    static_cast<ScratchFolders*>(::testing::AddGlobalTestEnvironment(new ScratchFolders));

}  // namespace

std::string MakeEmptyScratchFolder(const std::string& tag) {
  const char* base = std::getenv("TEST_TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/" + tag + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) return "";
  return std::string(name.data());
}

std::string MakeScratchFolder() {
  const std::string folder = MakeEmptyScratchFolder();
  if (folder.empty()) return folder;
  for (const char* file : {"shadow2.3DS", "txt.tif"}) {
    CopyIfPresent(std::string(SV_SCENE_DIR) + "/" + file, folder + "/" + file);
  }
  return folder;
}

void RemoveScratchFolder(const std::string& folder) {
  std::error_code ignored;
  if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
}

std::string ScratchFolder(const std::string& name) {
  const std::string folder = MakeEmptyScratchFolder("sv-" + name);
  EXPECT_FALSE(folder.empty()) << "no scratch folder for " << name;
  scratchFolders->folders.push_back(folder);
  return folder;
}

std::string ScratchPath(const std::string& name) {
  static const std::string folder = ScratchFolder("files");
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string prefix =
      info ? std::string(info->test_suite_name()) + "." + info->name() + "." : "";
  return folder + "/" + prefix + name;
}
