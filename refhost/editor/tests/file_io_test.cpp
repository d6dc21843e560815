#include "refhost/editor/file_io.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace refhost {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/editor-save-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  // Files in the folder other than `keep`.
  int StrayFiles(std::initializer_list<std::string> keep) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      bool known = false;
      for (const auto& k : keep) known = known || entry.path().filename() == k;
      if (!known) ++n;
    }
    return n;
  }
  fs::path dir_;
};

TEST_F(SaveTest, NewFileIsWrittenWithoutBackup) {
  const fs::path file = dir_ / "new.ngc";
  std::string error;
  ASSERT_TRUE(SaveFileSafely(file, "G0 X1\n", error)) << error;
  EXPECT_EQ(Slurp(file), "G0 X1\n");
  EXPECT_FALSE(fs::exists(BackupPath(file)));
  EXPECT_EQ(StrayFiles({"new.ngc"}), 0);
}

TEST_F(SaveTest, ReplacesByRenameAndKeepsPreviousAsBackup) {
  const fs::path file = dir_ / "part.nc";
  Write(file, "old\n");
  ::chmod(file.c_str(), 0640);
  struct stat before {};
  ::stat(file.c_str(), &before);
  std::string error;
  ASSERT_TRUE(SaveFileSafely(file, "new\n", error)) << error;
  EXPECT_EQ(Slurp(file), "new\n");
  EXPECT_EQ(Slurp(BackupPath(file)), "old\n");
  struct stat after {};
  ::stat(file.c_str(), &after);
  EXPECT_NE(after.st_ino, before.st_ino) << "the new text must arrive by rename";
  EXPECT_EQ(after.st_mode & 07777, 0640u) << "permissions carry over";

  // A second save replaces the backup with the text just saved.
  ASSERT_TRUE(SaveFileSafely(file, "newer\n", error)) << error;
  EXPECT_EQ(Slurp(file), "newer\n");
  EXPECT_EQ(Slurp(BackupPath(file)), "new\n");
  EXPECT_EQ(StrayFiles({"part.nc", "part.nc~"}), 0);
}

TEST_F(SaveTest, WritesThroughSymbolicLink) {
  const fs::path real = dir_ / "real.tap";
  const fs::path link = dir_ / "link.tap";
  Write(real, "a\n");
  fs::create_symlink(real, link);
  std::string error;
  ASSERT_TRUE(SaveFileSafely(link, "b\n", error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Slurp(real), "b\n");
  EXPECT_EQ(Slurp(BackupPath(real)), "a\n");
}

TEST_F(SaveTest, RefusesWhatCannotBeWritten) {
  std::string error;
  EXPECT_FALSE(SaveFileSafely(dir_ / "missing-folder" / "x.nc", "a", error));
  EXPECT_NE(error.find("missing-folder"), std::string::npos) << error;
  fs::create_directory(dir_ / "folder.nc");
  EXPECT_FALSE(SaveFileSafely(dir_ / "folder.nc", "a", error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_FALSE(SaveFileSafely("", "a", error));
}

TEST_F(SaveTest, ReadOnlyFolderLeavesOriginalIntact) {
  const fs::path file = dir_ / "keep.ngc";
  Write(file, "original\n");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  if (::access(dir_.c_str(), W_OK) == 0) {
    GTEST_SKIP() << "running with rights that ignore folder permissions (root)";
  }
  std::string error;
  EXPECT_FALSE(SaveFileSafely(file, "changed\n", error));
  EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
  EXPECT_EQ(Slurp(file), "original\n");
}

// A write that fails part way (here: a file size limit, as on a full disk)
// must leave the original untouched and no temporary behind.
TEST_F(SaveTest, FailedWriteLeavesOriginalIntact) {
  const fs::path file = dir_ / "big.ngc";
  Write(file, "original\n");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    const bool saved = SaveFileSafely(file, std::string(100000, 'X'), error);
    ::_exit(!saved && error.find("File too large") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save must fail and say why";
  EXPECT_EQ(Slurp(file), "original\n");
  EXPECT_EQ(StrayFiles({"big.ngc", "big.ngc~"}), 0);
}

TEST_F(SaveTest, ReadWholeFileReportsMissingFile) {
  std::string text = "unchanged";
  std::string error;
  EXPECT_FALSE(ReadWholeFile(dir_ / "none.nc", text, error));
  EXPECT_NE(error.find("none.nc"), std::string::npos);
  EXPECT_EQ(text, "unchanged");
  EXPECT_FALSE(ReadWholeFile(dir_, text, error));
}

}  // namespace
}  // namespace refhost
