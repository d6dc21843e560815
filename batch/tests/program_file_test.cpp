// Saving: temporary file and rename, links, permissions, backups, and the
// line ends the editor keeps.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "batch/line_writer.h"
#include "batch/program_file.h"
#include "batch/tests/generated_programs.h"
#include "refhost/core/document.h"

namespace batch {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::WriteAll;

class BatchFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/batch_file_test.XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Saves `bytes` to `path` through an AtomicFile.
  bool Save(const std::string& path, const std::string& bytes, bool backup, std::string& error) {
    AtomicFile file;
    if (!file.Begin(path, error)) return false;
    EXPECT_EQ(::write(file.fd(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    return file.Commit(backup, error);
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

TEST_F(BatchFileTest, ReplacesKeepingModeAndBackup) {
  const std::string path = dir_ + "/p.ngc";
  WriteAll(path, "old\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  std::string error;
  ASSERT_TRUE(Save(path, "new\n", true, error)) << error;
  EXPECT_EQ(ReadAll(path), "new\n");
  EXPECT_EQ(ReadAll(path + "~"), "old\n");
  struct stat st {};
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_TRUE(Save(path, "newer\n", true, error)) << error;
  EXPECT_EQ(ReadAll(path + "~"), "new\n");  // the previous backup replaced
  EXPECT_EQ(Names(), (std::vector<std::string>{"p.ngc", "p.ngc~"}));  // no temporary left
}

TEST_F(BatchFileTest, NoBackupWhenNotWanted) {
  const std::string path = dir_ + "/p.ngc";
  WriteAll(path, "old\n");
  std::string error;
  ASSERT_TRUE(Save(path, "new\n", false, error)) << error;
  EXPECT_EQ(Names(), (std::vector<std::string>{"p.ngc"}));
}

TEST_F(BatchFileTest, ALinkIsFollowedAndKept) {
  fs::create_directory(dir_ + "/real");
  const std::string target = dir_ + "/real/p.ngc";
  WriteAll(target, "old\n");
  fs::create_symlink("real/p.ngc", dir_ + "/link.ngc");
  std::string error;
  ASSERT_TRUE(Save(dir_ + "/link.ngc", "new\n", true, error)) << error;
  EXPECT_TRUE(fs::is_symlink(dir_ + "/link.ngc"));
  EXPECT_EQ(ReadAll(target), "new\n");
  EXPECT_EQ(ReadAll(target + "~"), "old\n");  // the backup sits beside the file it keeps
}

TEST_F(BatchFileTest, AnUncommittedSaveLeavesNothing) {
  const std::string path = dir_ + "/p.ngc";
  WriteAll(path, "old\n");
  {
    AtomicFile file;
    std::string error;
    ASSERT_TRUE(file.Begin(path, error)) << error;
    ASSERT_EQ(::write(file.fd(), "half", 4), 4);
  }
  EXPECT_EQ(ReadAll(path), "old\n");
  EXPECT_EQ(Names(), (std::vector<std::string>{"p.ngc"}));
}

TEST_F(BatchFileTest, RefusedTargets) {
  fs::create_directory(dir_ + "/sub");
  fs::create_symlink("nowhere.ngc", dir_ + "/dangling.ngc");
  ASSERT_EQ(::mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  const struct {
    std::string path;
    bool must_exist;
    const char* error;
  } cases[] = {
      {dir_ + "/sub", true, "is a directory"},
      {dir_ + "/fifo", true, "is not a regular file"},
      {dir_ + "/missing.ngc", true, "cannot be read (No such file or directory)"},
      {dir_ + "/dangling.ngc", false, "the link's target cannot be found (No such file or directory)"},
  };
  for (const auto& c : cases) {
    std::string target, error;
    EXPECT_FALSE(SaveTarget(c.path, c.must_exist, target, error)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
  std::string text, error;
  EXPECT_FALSE(ReadProgram(dir_ + "/fifo", text, error));  // and does not hang
  EXPECT_EQ(error, "is not a regular file");
  // A folder nobody may create files in, root included.
  AtomicFile file;
  EXPECT_FALSE(file.Begin("/sys/brevand-batch-test.ngc", error));
  EXPECT_EQ(error.rfind("cannot create a file in /sys (", 0), 0u) << error;
}

TEST_F(BatchFileTest, EachLineKeepsItsOwnBreak) {
  const struct {
    std::string text;
  } cases[] = {{"a\nb\n"}, {"a\r\nb\r\n"}, {"a\rb"}, {"a\nb"}, {"one line"}, {"\n"}, {"a\r\nb\nc\rd\n"}, {"a\nb\r\nc"}, {"a\rb\r\n"}, {""}};
  for (const auto& c : cases) {
    refhost::Document doc;
    doc.Load(c.text);
    const LineEndings endings(c.text);
    EXPECT_EQ(endings.lines(), doc.LineCount());
    std::FILE* f = std::tmpfile();
    LineWriter writer(fileno(f), endings);
    for (std::int64_t line = 1; line <= doc.LineCount(); ++line) {
      writer.Put(line, doc.Line(line), false, doc.Line(line));
    }
    std::string error;
    ASSERT_TRUE(writer.Finish(error)) << error;
    std::rewind(f);
    std::string written(4096, '\0');
    written.resize(std::fread(written.data(), 1, written.size(), f));
    std::fclose(f);
    // Each line keeps its own break, mixed ones too.
    EXPECT_EQ(written, c.text);
  }
}

}  // namespace
}  // namespace batch
