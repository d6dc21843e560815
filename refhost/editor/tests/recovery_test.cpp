#include "refhost/editor/recovery.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include "refhost/editor/session.h"

namespace refhost {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A uid other than ours that files can be given (root only), or -1.
int OtherUid() {
  if (::geteuid() != 0) return -1;
  const passwd* nobody = ::getpwnam("nobody");
  return nobody != nullptr ? int(nobody->pw_uid) : 65534;
}

class RecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/editor-recovery-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    folder_ = (dir_ / "state" / "norvane-editor").string();
    doc_ = (dir_ / "part.ngc").string();
    std::ofstream(doc_, std::ios::binary) << "G0 X0\nG1 X1 F100\n";
  }
  void TearDown() override { fs::remove_all(dir_); }
  // A recovery of doc_ holding `text`, written a second after the document.
  std::string WriteNewer(const std::string& text) {
    std::string error;
    EXPECT_TRUE(PrepareRecoveryFolder(folder_, error)) << error;
    const std::string file = folder_ + "/" + RecoveryFileName(CanonicalDocumentPath(doc_), 0);
    EXPECT_TRUE(WriteRecoveryFile(file, CanonicalDocumentPath(doc_), text, error)) << error;
    SetAge(doc_, 10);
    return file;
  }
  static void SetAge(const std::string& path, int seconds_ago) {
    const timespec when[2] = {{::time(nullptr) - seconds_ago, 0}, {::time(nullptr) - seconds_ago, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), when, AT_SYMLINK_NOFOLLOW), 0);
  }

  fs::path dir_;
  std::string folder_, doc_;
};

TEST_F(RecoveryTest, FolderFromTheEnvironment) {
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  const std::string saved_state = state ? state : "", saved_home = home ? home : "";
  struct Case {
    const char* state;
    const char* home;
    std::string folder;
  } cases[] = {
      {"/x/state", "/home/u", "/x/state/norvane-editor"},
      {"relative", "/home/u", "/home/u/.local/state/norvane-editor"},
      {nullptr, "/home/u", "/home/u/.local/state/norvane-editor"},
      {nullptr, nullptr, ""},
  };
  for (const auto& c : cases) {
    c.state ? ::setenv("XDG_STATE_HOME", c.state, 1) : ::unsetenv("XDG_STATE_HOME");
    c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
    EXPECT_EQ(RecoveryFolder(), c.folder);
  }
  state ? ::setenv("XDG_STATE_HOME", saved_state.c_str(), 1) : ::unsetenv("XDG_STATE_HOME");
  home ? ::setenv("HOME", saved_home.c_str(), 1) : ::unsetenv("HOME");
}

TEST_F(RecoveryTest, NamesFollowTheCanonicalPath) {
  fs::create_symlink(doc_, dir_ / "link.ngc");
  const std::string canonical = CanonicalDocumentPath(doc_);
  EXPECT_EQ(CanonicalDocumentPath((dir_ / "link.ngc").string()), canonical);
  fs::create_directory(dir_ / "x");
  EXPECT_EQ(CanonicalDocumentPath((dir_ / "." / "x" / ".." / "part.ngc").string()), canonical);
  // Not there yet: its folder resolved.
  EXPECT_EQ(CanonicalDocumentPath((dir_ / "." / "new.nc").string()), fs::canonical(dir_).string() + "/new.nc");

  const std::string name = RecoveryFileName(canonical, 0);
  EXPECT_EQ(name.rfind("part.ngc-", 0), 0u) << name;
  EXPECT_EQ(name.size(), std::string("part.ngc-").size() + 16 + std::string(".recover").size()) << name;
  EXPECT_NE(RecoveryFileName("/a/part.ngc", 0), RecoveryFileName("/b/part.ngc", 0));
  EXPECT_EQ(RecoveryFileName("/a/part.ngc", 0), RecoveryFileName("/a/part.ngc", 7));
  EXPECT_EQ(RecoveryFileName("/a/.hidden prog*.nc", 0).substr(0, 17), "_hidden_prog_.nc-");
  EXPECT_EQ(RecoveryFileName("", 42), "untitled-42.recover");
}

TEST_F(RecoveryTest, WritesWholeFilesPrivatelyAndReadsThemBack) {
  std::string error;
  ASSERT_TRUE(PrepareRecoveryFolder(folder_, error)) << error;
  struct stat st {};
  ASSERT_EQ(::stat(folder_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat(fs::path(folder_).parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u) << "missing parents are private too";

  // Odd names travel in the header unharmed.
  for (const std::string& owner : {std::string("/p/part.ngc"), std::string("/p/a\nb\\n.nc")}) {
    const std::string file = folder_ + "/" + RecoveryFileName(owner, 0);
    const std::string text = "G1 X1\r\nG1 X2 F300\r\n";
    ASSERT_TRUE(WriteRecoveryFile(file, owner, text, error)) << error;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    std::string back;
    ASSERT_TRUE(ReadRecoveryFile(file, owner, back, error)) << error;
    EXPECT_EQ(back, text);
    EXPECT_FALSE(ReadRecoveryFile(file, "/p/other.ngc", back, error));
    EXPECT_NE(error.find("belongs to"), std::string::npos) << error;
  }
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder_)) ++entries;
  EXPECT_EQ(entries, 2u) << "no temporary file is left behind";

  // What a writer killed mid-write left is cleared by the next write; a
  // fresh one (a write in progress) is not.
  const std::string file = folder_ + "/" + RecoveryFileName("/p/part.ngc", 0);
  const std::string stale = folder_ + "/." + RecoveryFileName("/p/part.ngc", 0) + ".a1b2c3";
  const std::string fresh = folder_ + "/." + RecoveryFileName("/p/part.ngc", 0) + ".d4e5f6";
  std::ofstream(stale) << "half";
  std::ofstream(fresh) << "half";
  const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, stale.c_str(), old, 0), 0);
  ASSERT_TRUE(WriteRecoveryFile(file, "/p/part.ngc", "G0\n", error)) << error;
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(fresh));

  std::ofstream(folder_ + "/stray.recover") << "G0 X0\n";
  std::string back;
  EXPECT_FALSE(ReadRecoveryFile(folder_ + "/stray.recover", "/p/part.ngc", back, error));
  EXPECT_NE(error.find("not one the editor wrote"), std::string::npos) << error;
}

// Whatever is not the user's own, or could be changed by others, is refused
// with the reason, and left where it is.
TEST_F(RecoveryTest, RefusesFilesAndFoldersThatAreNotSafe) {
  const int other = OtherUid();
  struct Case {
    const char* name;
    std::function<void(const std::string& folder, const std::string& file)> spoil;
    const char* says;
    bool needs_root;
  } cases[] = {
      {"file is a link",
       [](const std::string&, const std::string& file) {
         fs::rename(file, file + ".real");
         fs::create_symlink(file + ".real", file);
       },
       "symbolic link", false},
      {"file of another user", [&](const std::string&, const std::string& file) { ASSERT_EQ(::chown(file.c_str(), other, -1), 0); },
       "belongs to user", true},
      {"folder writable by the group", [](const std::string& folder, const std::string&) { ::chmod(folder.c_str(), 0770); },
       "written by others", false},
      {"folder writable by all", [](const std::string& folder, const std::string&) { ::chmod(folder.c_str(), 0777); },
       "written by others", false},
      {"folder of another user", [&](const std::string& folder, const std::string&) { ASSERT_EQ(::chown(folder.c_str(), other, -1), 0); },
       "belongs to user", true},
      {"folder is a link",
       [](const std::string& folder, const std::string&) {
         fs::rename(folder, folder + ".real");
         fs::create_symlink(folder + ".real", folder);
       },
       "symbolic link", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && other < 0) continue;  // only root can give files away
    fs::remove_all(dir_ / "state");
    const std::string file = WriteNewer("G1 X9\n");
    c.spoil(folder_, file);
    const RecoveryProbe probe = ProbeRecovery(folder_, doc_);
    EXPECT_EQ(probe.state, RecoveryProbe::State::kRefused);
    EXPECT_NE(probe.reason.find(c.says), std::string::npos) << probe.reason;
    EXPECT_TRUE(probe.bytes.empty());
    EXPECT_TRUE(fs::exists(fs::symlink_status(file))) << "a refused file is left alone";
    if (std::string(c.name).rfind("folder", 0) == 0) {
      std::string error;
      EXPECT_FALSE(WriteRecoveryFile(folder_ + "/x.recover", "/p/x", "x", error)) << "an unsafe folder takes no file";
      EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
  }
}

TEST_F(RecoveryTest, ProbeTellsNewerOlderAndNone) {
  EXPECT_EQ(ProbeRecovery(folder_, doc_).state, RecoveryProbe::State::kNone);
  const std::string file = WriteNewer("G1 X9\n");
  RecoveryProbe probe = ProbeRecovery(folder_, doc_);
  EXPECT_EQ(probe.state, RecoveryProbe::State::kNewer);
  EXPECT_EQ(probe.file, file);
  EXPECT_EQ(probe.bytes, "G1 X9\n");

  SetAge(file, 20);  // the document was saved since
  EXPECT_EQ(ProbeRecovery(folder_, doc_).state, RecoveryProbe::State::kOlder);

  fs::remove(doc_);  // the document is gone: the recovery is all there is
  EXPECT_EQ(ProbeRecovery(folder_, doc_).state, RecoveryProbe::State::kNewer);

  bool moved = false;
  std::string error;
  ASSERT_TRUE(SetRecoveryFileAside(file, moved, error)) << error;
  EXPECT_TRUE(moved);
  EXPECT_EQ(Slurp(file + "~").substr(Slurp(file + "~").size() - 6), "G1 X9\n");
  EXPECT_EQ(ProbeRecovery(folder_, doc_).state, RecoveryProbe::State::kNone);
  ASSERT_TRUE(SetRecoveryFileAside(file, moved, error));
  EXPECT_FALSE(moved);
  EXPECT_TRUE(RemoveRecoveryFile(file + "~", error));
  EXPECT_TRUE(RemoveRecoveryFile(file + "~", error)) << "already gone is fine";
}

TEST(SessionReplaceTextTest, TakesTheRecoveredTextAsOneUndoStep) {
  struct Case {
    std::string original, recovered;
    std::int64_t lines;
  } cases[] = {
      {"G0 X0\nG1 X1\n", "G0 X0\nG1 X5\nG1 X6\n", 3},
      {"G0 X0\r\nG1 X1\r\n", "G0 X0\r\nG1 X5\r\n", 2},
      {"G0 X0\nG1 X1", "G1 X5", 1},
      {"G0 X0\rG1 X1\r", "\r\r", 2},
  };
  char pattern[] = "/tmp/editor-replace-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path file = fs::path(pattern) / "p.nc";
  for (const auto& c : cases) {
    std::ofstream(file, std::ios::binary) << c.original;
    EditorSession session;
    std::string error;
    ASSERT_TRUE(session.Open(file, error)) << error;
    ASSERT_TRUE(session.ReplaceText(c.recovered));
    EXPECT_EQ(session.FileText(), c.recovered);
    EXPECT_EQ(session.document().LineCount(), c.lines);
    EXPECT_TRUE(session.document().Modified());
    session.Undo();
    EXPECT_EQ(session.FileText(), c.original);
    EXPECT_FALSE(session.document().Modified());
    EXPECT_FALSE(session.ReplaceText(c.original)) << "the same text is no change";
    EXPECT_FALSE(session.document().Modified());
  }
  fs::remove_all(pattern);
}

}  // namespace
}  // namespace refhost
