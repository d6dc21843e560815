// brevand-batch as a user runs it: a real process over real files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "batch/tests/generated_programs.h"

namespace batch {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::WriteAll;

constexpr uid_t kNobody = 65534;

struct Result {
  int status = -1;  // exit status, or -signal
  std::string out, err;
};

class BatchCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/batch_cli_test.XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
    ::chmod(dir_.c_str(), 0777);  // also for a run as another user
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Starts the program with `args`; its output goes to files in the folder.
  // As root, `unprivileged` runs it as nobody, so that permissions count.
  pid_t Start(const std::vector<std::string>& args, bool unprivileged = false) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int out = ::open(Path(".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      const int err = ::open(Path(".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      ::dup2(out, 1);
      ::dup2(err, 2);
      if (unprivileged && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(126);
      }
      std::vector<char*> argv{const_cast<char*>(BREVAND_BATCH_PATH)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return pid;
  }
  Result Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    r.out = ReadAll(Path(".out"));
    r.err = ReadAll(Path(".err"));
    ::unlink(Path(".out").c_str());
    ::unlink(Path(".err").c_str());
    return r;
  }
  Result Run(const std::vector<std::string>& args, bool unprivileged = false) {
    return Wait(Start(args, unprivileged));
  }

  // The sample's fields, and the files after them.
  static std::vector<std::string> SampleArgs(std::vector<std::string> files) {
    std::vector<std::string> args{"--line-length", "5", "--line-feed", "200", "--arc-radius", "3",
                                  "--arc-feed", "150"};
    args.insert(args.end(), files.begin(), files.end());
    return args;
  }
  static std::string Sample(const char* name) {
    return ReadAll(std::string(BREVAND_SAMPLES_DIR) + "/" + name);
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

TEST_F(BatchCliTest, BadUsageEndsWithStatus2AndTouchesNothing) {
  WriteAll(Path("a.ngc"), Sample("mill.ngc"));
  const struct {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{}, "brevand-batch: --line-length and --line-feed are required (see --help)\n"},
      {{"--line-length", "5", "--line-feed", "200"}, "brevand-batch: no file given (see --help)\n"},
      {{"--line-length", "5", "--line-feed", "0", Path("a.ngc")},
       "brevand-batch: --line-feed \"0\": evaluates to 0; it must be above 0\n"},
      {{"--line-length", "1E400", "--line-feed", "200", Path("a.ngc")},
       "brevand-batch: --line-length \"1E400\": Floating point overflow\n"},
      {{"--line-length", "5", "--line-feed", "200", "--arc-radius", "2", Path("a.ngc")},
       "brevand-batch: --arc-radius needs --arc-feed as well\n"},
      {{"--line-length", "5", "--line-feed", "200", "-x", Path("a.ngc")},
       "brevand-batch: unknown option -x (see --help)\n"},
  };
  for (const auto& c : cases) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, 2) << c.error;
    EXPECT_EQ(r.err, c.error);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(ReadAll(Path("a.ngc")), Sample("mill.ngc"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.ngc"}));

  const Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: brevand-batch [options] FILE..."), std::string::npos);
  EXPECT_NE(help.out.find("Example:"), std::string::npos);
}

// Every kind of bad file among good ones: each bad one named with its
// reason and left as it was, the good ones done, status 1.
TEST_F(BatchCliTest, BadFilesAreReportedAndTheOthersDone) {
  const std::string mill = Sample("mill.ngc");
  const std::string expected = Sample("mill-expected.ngc");
  for (const char* name : {"first.ngc", "last.ngc", "unreadable.ngc", "readonly.ngc"}) {
    WriteAll(Path(name), mill);
  }
  fs::create_directory(Path("folder.ngc"));
  ::chmod(Path("unreadable.ngc").c_str(), 0);
  ::chmod(Path("readonly.ngc").c_str(), 0444);
  for (const char* name : {"first.ngc", "last.ngc", "readonly.ngc"}) {
    (void)!::chown(Path(name).c_str(), ::geteuid() == 0 ? kNobody : ::geteuid(), -1);
  }

  const Result r = Run(SampleArgs({Path("first.ngc"), Path("missing.ngc"), Path("folder.ngc"),
                                   Path("unreadable.ngc"), Path("readonly.ngc"), Path("last.ngc")}),
                       /*unprivileged=*/true);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(ReadAll(Path("first.ngc")), expected);
  EXPECT_EQ(ReadAll(Path("last.ngc")), expected);
  ::chmod(Path("unreadable.ngc").c_str(), 0644);
  EXPECT_EQ(ReadAll(Path("unreadable.ngc")), mill);
  EXPECT_EQ(ReadAll(Path("readonly.ngc")), mill);
  for (const std::string& line : {
           "brevand-batch: " + Path("missing.ngc") + ": cannot be read (No such file or directory)\n",
           "brevand-batch: " + Path("folder.ngc") + ": is a directory\n",
           "brevand-batch: " + Path("unreadable.ngc") + ": cannot be read (Permission denied)\n",
           "brevand-batch: " + Path("readonly.ngc") + ": cannot be written (Permission denied)\n",
           Path("first.ngc") + ": 29 lines walked, 14 written, ",
           Path("last.ngc") + ": 29 lines walked, 14 written, "}) {
    EXPECT_NE(r.err.find(line), std::string::npos) << line << "\nin:\n" << r.err;
  }
  EXPECT_EQ(Names(), (std::vector<std::string>{"first.ngc", "first.ngc~", "folder.ngc", "last.ngc",
                                                "last.ngc~", "readonly.ngc", "unreadable.ngc"}));
}

TEST_F(BatchCliTest, ALinkIsFollowedAndStaysALink) {
  fs::create_directory(Path("real"));
  WriteAll(Path("real/p.ngc"), Sample("mill.ngc"));
  fs::create_symlink("real/p.ngc", Path("link.ngc"));
  const Result r = Run(SampleArgs({Path("link.ngc")}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(Path("link.ngc")));
  EXPECT_EQ(ReadAll(Path("real/p.ngc")), Sample("mill-expected.ngc"));
  EXPECT_EQ(ReadAll(Path("real/p.ngc~")), Sample("mill.ngc"));
}

// Programs with too little to walk: the pass's message, the file untouched,
// not a failure.
TEST_F(BatchCliTest, NothingToWalkIsReportedNotSaved) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty.ngc", ""},
      {"one-line.ngc", "G1 X1 Y1 F100"},
      {"one-line-with-break.ngc", "G1 X1 Y1 F100\r\n"},
  };
  for (const auto& c : cases) {
    WriteAll(Path(c.name), c.text);
    const Result r = Run(SampleArgs({Path(c.name)}));
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.err, "brevand-batch: " + Path(c.name) +
                         ": No Lines in Norvane Selected (left unchanged)\n");
    EXPECT_EQ(ReadAll(Path(c.name)), c.text);
    EXPECT_FALSE(fs::exists(Path(c.name) + "~"));
  }
}

TEST_F(BatchCliTest, BytesOutsideTheWordsAreKept) {
  // No final break, CR LF, and comments that are not UTF-8 (Latin-1, a
  // broken sequence, a NUL).
  static const char kProgram[] =
      "G21 G90 (Fr\xe4ser \xc3)\r\nG1 X0 Y0 F300\r\nX0.5 Y0.5 (\xff\xfe)\r\nX1 Y1 ; \xe9t\xe9\r\n"
      "X9 Y9 (\0 nul)\r\nX9.5 Y9.5";
  static const char kAdjusted[] =
      "G21 G90 (Fr\xe4ser \xc3)\r\nG1 X0 Y0 F300\r\nX0.5 Y0.5 F100 (\xff\xfe)\r\n"
      "X1 Y1 F100 ; \xe9t\xe9\r\nX9 Y9 F300 (\0 nul)\r\nX9.5 Y9.5 F100";
  const std::string program(kProgram, sizeof kProgram - 1);
  WriteAll(Path("p.ngc"), program);
  const Result r = Run({"--line-length", "1", "--line-feed", "100", Path("p.ngc")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(Path("p.ngc")), std::string(kAdjusted, sizeof kAdjusted - 1));
}

TEST_F(BatchCliTest, DryRunAndOutputElsewhereLeaveTheInput) {
  const std::string mill = Sample("mill.ngc");
  WriteAll(Path("p.ngc"), mill);
  const Result dry = Run(SampleArgs({"--dry-run", Path("p.ngc")}));
  EXPECT_EQ(dry.status, 0);
  EXPECT_EQ(dry.out.rfind("--- " + Path("p.ngc") + "\n+++ " + Path("p.ngc") + "\n@@ -9 +9 @@\n-", 0), 0u)
      << dry.out;
  EXPECT_NE(dry.err.find("(dry run, nothing saved)"), std::string::npos);

  const Result out = Run(SampleArgs({"-q", "-o", "-", Path("p.ngc")}));
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.out, Sample("mill-expected.ngc"));
  EXPECT_EQ(out.err, "");  // quiet

  const Result file = Run(SampleArgs({"--no-backup", "-o", Path("out.ngc"), Path("p.ngc")}));
  EXPECT_EQ(file.status, 0) << file.err;
  EXPECT_EQ(ReadAll(Path("out.ngc")), Sample("mill-expected.ngc"));
  EXPECT_EQ(ReadAll(Path("p.ngc")), mill);
  EXPECT_EQ(Names(), (std::vector<std::string>{"out.ngc", "p.ngc"}));
}

// kill -9 at any moment of a run leaves the program as it was or as the
// pass makes it, never a mix or a stub.
TEST_F(BatchCliTest, KillDuringTheRunLeavesOldOrNew) {
  const std::string old = testing::MillProgram(120000);
  WriteAll(Path("source.ngc"), old);
  const std::vector<std::string> fields{"--line-length", "0.5", "--line-feed", "150",
                                        "--all-directions", "-q", "--no-backup"};
  auto args = fields;
  args.insert(args.end(), {"-o", Path("expected.ngc"), Path("source.ngc")});
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(args).status, 0);
  const auto full = std::chrono::steady_clock::now() - start;
  const std::string expected = ReadAll(Path("expected.ngc"));
  ASSERT_NE(expected, old);

  int old_seen = 0, new_seen = 0;
  for (int i = 0; i < 12; ++i) {
    WriteAll(Path("p.ngc"), old);
    auto in_place = fields;
    in_place.push_back(Path("p.ngc"));
    const pid_t pid = Start(in_place);
    std::this_thread::sleep_for(full * (i + 1) / 8);  // up to 1.5 runs
    // Every other one a SIGTERM, which must not leave the temporary file.
    const int sig = i % 2 ? SIGTERM : SIGKILL;
    ::kill(pid, sig);
    Wait(pid);
    const std::string now = ReadAll(Path("p.ngc"));
    ASSERT_TRUE(now == old || now == expected) << "torn after " << i + 1 << "/8 of a run";
    (now == old ? old_seen : new_seen)++;
    if (sig == SIGTERM) {
      for (const std::string& name : Names()) EXPECT_EQ(name.rfind(".p.ngc.", 0), std::string::npos) << name;
    }
    for (const std::string& name : Names()) {
      if (name.rfind(".p.ngc.", 0) == 0) fs::remove(Path(name));
    }
  }
  std::printf("killed runs: %d left the old program, %d the new one\n", old_seen, new_seen);
}

// Cycle times: --time lists them untouched; a pass prints before and after
// per file and a total; the profile file's limits count.
TEST_F(BatchCliTest, CycleTimesBeforeAndAfter) {
  WriteAll(Path("a.ngc"), Sample("mill.ngc"));
  WriteAll(Path("b.ngc"), Sample("mill.ngc"));
  WriteAll(Path("slow.profile"), "max_velocity = 100 100 100\n");
  WriteAll(Path("bad.profile"), "max_velocity = 100\n");

  const Result times = Run({"--time", Path("a.ngc"), Path("b.ngc")});
  EXPECT_EQ(times.status, 0) << times.err;
  const std::regex listing("(.*a\\.ngc: cycle \\d+:\\d\\d \\(([\\d.]+) s\\)\n)"
                           ".*b\\.ngc: cycle \\d+:\\d\\d \\(\\2 s\\)\ntotal: cycle \\d+:\\d\\d \\(.* s\\)\n");
  EXPECT_TRUE(std::regex_match(times.out, listing)) << times.out;
  EXPECT_EQ(ReadAll(Path("a.ngc")), Sample("mill.ngc"));
  const Result slow = Run({"--time", "--machine-profile", Path("slow.profile"), Path("a.ngc")});
  EXPECT_GT(std::stod(slow.out.substr(slow.out.rfind('(') + 1)),
            std::stod(times.out.substr(times.out.find('(') + 1)));
  const Result bad = Run(SampleArgs({"--machine-profile", Path("bad.profile"), Path("a.ngc")}));
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "brevand-batch: --machine-profile " + Path("bad.profile") +
                         ": line 1: max_velocity takes three numbers above 0 (X Y Z), not \"100\"\n");
  EXPECT_EQ(ReadAll(Path("a.ngc")), Sample("mill.ngc"));

  const Result pass = Run(SampleArgs({Path("a.ngc"), Path("b.ngc")}));
  EXPECT_EQ(pass.status, 0) << pass.err;
  const std::regex line(".*a\\.ngc: cycle \\d+:\\d\\d \u2192 \\d+:\\d\\d \\(\\+\\d+\\.\\d %\\)\n[\\s\\S]*"
                        "total: cycle \\d+:\\d\\d \u2192 \\d+:\\d\\d \\(\\+\\d+\\.\\d %\\)\n");
  EXPECT_TRUE(std::regex_search(pass.err, line)) << pass.err;
}

}  // namespace
}  // namespace batch
