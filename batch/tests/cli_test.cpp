// brevand-batch as a user runs it: a real process over real files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
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

  // How a run is started besides its arguments.
  struct Launch {
    bool unprivileged = false;     // as root: run as nobody, so that permissions count
    const char* input = nullptr;   // standard input from this file; "": closed
    const char* output = nullptr;  // standard output to this file instead of .out
    rlim_t file_limit = RLIM_INFINITY;  // ulimit -f, in bytes
    std::vector<std::string> env;  // NAME=VALUE more
    bool shell = false;            // the one argument is a command line for sh -c
  };

  // Starts the program with `args`; its output goes to files in the folder.
  pid_t Start(const std::vector<std::string>& args, const Launch& launch) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int out = ::open(launch.output ? launch.output : Path(".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      const int err = ::open(Path(".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      ::dup2(out, 1);
      ::dup2(err, 2);
      if (launch.input != nullptr && launch.input[0] == '\0') {
        ::close(0);
      } else if (launch.input != nullptr) {
        ::dup2(::open(launch.input, O_RDONLY), 0);
      }
      for (const std::string& e : launch.env) ::putenv(const_cast<char*>(e.c_str()));
      const struct rlimit limit {launch.file_limit, launch.file_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      if (launch.unprivileged && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(126);
      }
      if (launch.shell) ::execl("/bin/sh", "sh", "-c", args.at(0).c_str(), static_cast<char*>(nullptr));
      std::vector<char*> argv{const_cast<char*>(BREVAND_BATCH_PATH)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return pid;
  }
  pid_t Start(const std::vector<std::string>& args, bool unprivileged = false) {
    Launch launch;
    launch.unprivileged = unprivileged;
    return Start(args, launch);
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
  Result Run(const std::vector<std::string>& args, const Launch& launch) {
    return Wait(Start(args, launch));
  }
  // Waits until a temporary file of `name` is in the folder (the run holds
  // the file and is writing); false when none came.
  bool WaitForTemporary(const std::string& name) {
    for (int i = 0; i < 5000; ++i) {
      for (const std::string& n : Names()) {
        if (n.rfind("." + name + ".", 0) == 0) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
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
      {{"--line-length", "5", "--line-feed", "0.0000001", Path("a.ngc")},
       "brevand-batch: --line-feed \"0.0000001\": evaluates to 1e-07, which an F word would write as F0\n"},
      {{"--line-length", "5", "--line-feed", "1e30", Path("a.ngc")},
       "brevand-batch: --line-feed \"1E30\": evaluates to 1e+30, too large for an F word (below 1000000000)\n"},
      {{"--line-length", "5", "--line-feed", "200", "--lines", "5:2", Path("a.ngc")},
       "brevand-batch: --lines 5:2: the first line comes after the last\n"},
      {{"--line-length", "5", "--line-feed", "200", "-n", "-o", Path("b.ngc"), Path("a.ngc")},
       "brevand-batch: --dry-run writes nothing, so it does not go with -o\n"},
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
  // --force: its owner may replace it all the same, as the folder allows.
  EXPECT_EQ(Run(SampleArgs({"-q", "--force", Path("readonly.ngc")}), /*unprivileged=*/true).status, 0);
  EXPECT_EQ(ReadAll(Path("readonly.ngc")), expected);
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
    const Result r = Run(SampleArgs({"-q", Path(c.name)}));
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.err, "brevand-batch: " + Path(c.name) +
                         ": nothing to adjust (fewer than two lines); left unchanged\n");
    EXPECT_EQ(ReadAll(Path(c.name)), c.text);
    EXPECT_FALSE(fs::exists(Path(c.name) + "~"));
  }
}

TEST_F(BatchCliTest, BytesOutsideTheWordsAreKept) {
  // No final break, CR LF, and comments that are not UTF-8 (Latin-1, a
  // broken sequence, a control byte; NUL bytes mark a file as not text).
  static const char kProgram[] =
      "G21 G90 (Fr\xe4ser \xc3)\r\nG1 X0 Y0 F300\r\nX0.5 Y0.5 (\xff\xfe)\r\nX1 Y1 ; \xe9t\xe9\r\n"
      "X9 Y9 (\1 soh)\r\nX9.5 Y9.5";
  static const char kAdjusted[] =
      "G21 G90 (Fr\xe4ser \xc3)\r\nG1 X0 Y0 F300\r\nX0.5 Y0.5 F100 (\xff\xfe)\r\n"
      "X1 Y1 F100 ; \xe9t\xe9\r\nX9 Y9 F300 (\1 soh)\r\nX9.5 Y9.5 F100";
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

// The run's start says what it will do; --quiet drops that.
TEST_F(BatchCliTest, TheValuesUsedComeFirst) {
  WriteAll(Path("p.ngc"), Sample("mill.ngc"));
  const Result r = Run({"--line-length", "0.5", "--line-feed", "320", "--arc-radius", "2", "--arc-feed",
                        "300", "-n", Path("p.ngc")});
  EXPECT_EQ(r.err.rfind("lines shorter than 0.5 get F320 (near-diagonal only); arcs smaller than R2 get "
                        "F300\n",
                        0),
            0u)
      << r.err;
  EXPECT_NE(r.err.find(Path("p.ngc") + ": 29 lines walked, 2 written, in mm, "), std::string::npos) << r.err;
  EXPECT_EQ(Run({"--line-length", "1", "--line-feed", "100 200", "--all-directions", "-nq", Path("p.ngc")}).err, "");
  EXPECT_EQ(Run({"--line-length", "1", "--line-feed", "100 200", "--all-directions", "-n", Path("p.ngc")})
                .err.rfind("lines shorter than 1 get F100200 (all directions); arcs stay as they are\n", 0),
            0u);
}

// Files that must never be adjusted in place, among a good one: each named
// (quoted when its name holds control characters) with its reason and left
// byte for byte as it was, and a total at the end.
TEST_F(BatchCliTest, FilesThatAreNotForAdjustingAreLeftAlone) {
  std::string random(200 * 1024, '\0');
  std::mt19937 bytes(5);
  for (char& c : random) c = static_cast<char>(bytes());
  const bool root = ::geteuid() == 0;
  struct Case {
    std::string name, text, error;
  };
  std::vector<Case> cases = {
      {"program", ReadAll(BREVAND_BATCH_PATH), "is not a text file (an ELF program or library)"},
      {"random.ngc", random, "is not a text file (it holds NUL bytes)"},
      {"archive.ngc", "PK\x03\x04G1 X0 Y0\nX0.1 Y0.1\n", "is not a text file (a zip archive)"},
      {"controls.ngc", std::string(3000, '\x01') + "\nG1 X0\nX0.1 Y0.1\n",
       "is not a text file (mostly bytes that are not text)"},
      {"bad\nname.ngc", std::string("\x7f") + "ELF\nG1 X0\n", "is not a text file (an ELF program or library)"},
      {"inch.ngc", "G20\nG1 X0 Y0 F10\nX0.1 Y0.1\nX5 Y5\n", "is in inch, not mm (--units); left unchanged"},
      {"huge-feed.ngc", "G1 X0 Y0 F2000000000\nX0.1 Y0.1\nX9 Y9\n",
       "line 3: the value 2e+09 is too large for a word (left unchanged)"},
  };
  if (root) cases.push_back({"read-only.ngc", Sample("mill.ngc"),
                             "is read-only (its owner may not write it; --force adjusts it all the same)"});
  std::vector<std::string> args = SampleArgs({"--units", "mm"});
  for (const Case& c : cases) {
    WriteAll(Path(c.name), c.text);
    args.push_back(Path(c.name));
  }
  ::chmod(Path("read-only.ngc").c_str(), 0444);
  // A link in a shared sticky folder that belongs to someone else (only root
  // can make one).
  if (root) {
    fs::create_directory(Path("shared"));
    ::chmod(Path("shared").c_str(), 01777);
    WriteAll(Path("real.ngc"), Sample("mill.ngc"));
    fs::create_symlink(Path("real.ngc"), Path("shared/link.ngc"));
    ASSERT_EQ(::lchown(Path("shared/link.ngc").c_str(), kNobody, kNobody), 0);
    args.push_back(Path("shared/link.ngc"));
  }
  // /dev/stdin leads to the file standard input comes from.
  WriteAll(Path("stdin.ngc"), Sample("mill.ngc"));
  args.push_back("/dev/stdin");
  WriteAll(Path("good.ngc"), Sample("mill.ngc"));
  args.push_back(Path("good.ngc"));
  Launch launch;
  const std::string stdin_path = Path("stdin.ngc");
  launch.input = stdin_path.c_str();

  const Result r = Run(args, launch);
  EXPECT_EQ(r.status, 1);
  for (const Case& c : cases) {
    const std::string shown = c.name == "bad\nname.ngc" ? "$'" + Path("bad\\nname.ngc") + "'" : Path(c.name);
    EXPECT_NE(r.err.find("brevand-batch: " + shown + ": " + c.error + "\n"), std::string::npos)
        << c.name << " in:\n" << r.err;
    EXPECT_EQ(ReadAll(Path(c.name)), c.text) << c.name;
  }
  if (root) {
    EXPECT_NE(r.err.find(Path("shared/link.ngc") + ": is a symbolic link in a shared folder (sticky, "
                         "world-writable) that belongs to neither you nor the folder's owner; it is not "
                         "followed\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadAll(Path("real.ngc")), Sample("mill.ngc"));
  }
  EXPECT_NE(r.err.find("/dev/stdin: is an open file of a process (/proc), never adjusted in place"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadAll(Path("stdin.ngc")), Sample("mill.ngc"));
  EXPECT_EQ(ReadAll(Path("good.ngc")), Sample("mill-expected.ngc"));
  const std::size_t failed = cases.size() + (root ? 2 : 1);
  EXPECT_NE(r.err.find(std::to_string(failed + 1) + " files: 1 adjusted, " + std::to_string(failed) +
                       " failed\n"),
            std::string::npos)
      << r.err;
  for (const std::string& name : Names()) {
    EXPECT_TRUE(name == "good.ngc~" || name.find('~') == std::string::npos) << name;  // no other backup
  }

  if (root) {  // --force: adjusted, and still read-only
    EXPECT_EQ(Run(SampleArgs({"--force", Path("read-only.ngc")})).status, 0);
    EXPECT_EQ(ReadAll(Path("read-only.ngc")), Sample("mill-expected.ngc"));
    EXPECT_EQ(fs::status(Path("read-only.ngc")).permissions(), fs::perms(0444));
  }
}

// Two runs on one file: the second waits for the first's lock, finds the
// file replaced, and writes nothing; the original stays as the backup.
TEST_F(BatchCliTest, TwoRunsOnOneFileKeepTheOriginal) {
  const std::string old = testing::MillProgram(400000);
  WriteAll(Path("p.ngc"), old);
  const std::vector<std::string> args{"--line-length", "0.5", "--line-feed", "150", "-q", Path("p.ngc")};
  auto to_file = args;
  to_file.insert(to_file.end() - 1, {"-o", Path("expected.ngc"), "--no-backup"});
  ASSERT_EQ(Run(to_file).status, 0);

  const pid_t first = Start(args);
  ASSERT_TRUE(WaitForTemporary("p.ngc"));
  Launch launch;
  const std::string second_err = Path("second.err");
  launch.output = second_err.c_str();  // apart from the first run's output
  const pid_t second = ::fork();
  if (second == 0) {
    ::dup2(::open(second_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 2);
    ::execl(BREVAND_BATCH_PATH, BREVAND_BATCH_PATH, "--line-length", "0.5", "--line-feed", "150", "-q",
            Path("p.ngc").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(second, &status, 0);
  EXPECT_EQ(Wait(first).status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(ReadAll(second_err), "brevand-batch: " + Path("p.ngc") +
                                     ": was saved by another run while this one waited for it (left as "
                                     "that run saved it)\n");
  EXPECT_EQ(ReadAll(Path("p.ngc")), ReadAll(Path("expected.ngc")));
  EXPECT_EQ(ReadAll(Path("p.ngc~")), old);
}

// Signals that end the process, and the file size limit: no temporary file
// is left and the program stays as it was.
TEST_F(BatchCliTest, SignalsAndTheFileSizeLimitLeaveNothingBehind) {
  const std::string old = testing::MillProgram(400000);
  const std::vector<std::string> args{"--line-length", "0.5", "--line-feed", "150", "-q", Path("p.ngc")};
  for (const int sig : {SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM}) {
    WriteAll(Path("p.ngc"), old);
    const pid_t pid = Start(args);
    ASSERT_TRUE(WaitForTemporary("p.ngc")) << sig;
    ::kill(pid, sig);
    EXPECT_EQ(Wait(pid).status, -sig);
    EXPECT_EQ(Names(), (std::vector<std::string>{"p.ngc"})) << sig;
    EXPECT_EQ(ReadAll(Path("p.ngc")), old) << sig;
  }
  Launch limited;
  limited.file_limit = 64 * 1024;
  const Result r = Run(args, limited);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "brevand-batch: " + Path("p.ngc") + ": not saved: file size limit exceeded\n");
  EXPECT_EQ(Names(), (std::vector<std::string>{"p.ngc"}));
  EXPECT_EQ(ReadAll(Path("p.ngc")), old);
}

// POSIX ACLs and user attributes stay on the adjusted file, set and read
// back with the usual tools.
TEST_F(BatchCliTest, ExtendedAttributesCarryOver) {
  if (std::system("command -v setfacl >/dev/null && command -v setfattr >/dev/null") != 0) {
    GTEST_SKIP() << "setfacl and setfattr (Debian: acl, attr) are not installed";
  }
  WriteAll(Path("p.ngc"), Sample("mill.ngc"));
  const std::string quoted = "'" + Path("p.ngc") + "'";
  ASSERT_EQ(std::system(("setfattr -n user.shop -v lathe-2 " + quoted).c_str()), 0);
  ASSERT_EQ(std::system(("setfacl -m u:nobody:rw " + quoted).c_str()), 0);
  ASSERT_EQ(Run(SampleArgs({"-q", Path("p.ngc")})).status, 0);
  ASSERT_EQ(ReadAll(Path("p.ngc")), Sample("mill-expected.ngc"));
  const std::string check = "getfattr --only-values -n user.shop " + quoted + " > " + Path("attr") +
                            " && getfacl -p " + quoted + " > " + Path("acl");
  ASSERT_EQ(std::system(check.c_str()), 0);
  EXPECT_EQ(ReadAll(Path("attr")), "lathe-2");
  EXPECT_NE(ReadAll(Path("acl")).find("user:nobody:rw-"), std::string::npos) << ReadAll(Path("acl"));
}

// Any name the file system takes: the temporary name is cut to fit.
TEST_F(BatchCliTest, LongNamesWork) {
  const struct {
    std::size_t length;
    bool backup;
    int status;
  } cases[] = {{248, true, 0}, {254, true, 0}, {255, false, 0}, {255, true, 1}};
  for (const auto& c : cases) {
    const std::string name = std::string(c.length - 4, 'n') + ".ngc";
    WriteAll(Path(name), Sample("mill.ngc"));
    auto args = SampleArgs({"-q", Path(name)});
    if (!c.backup) args.insert(args.begin(), "--no-backup");
    const Result r = Run(args);
    EXPECT_EQ(r.status, c.status) << c.length << r.err;
    EXPECT_EQ(ReadAll(Path(name)), Sample(c.status == 0 ? "mill-expected.ngc" : "mill.ngc")) << c.length;
    if (c.status != 0) {
      EXPECT_NE(r.err.find("--no-backup saves without it"), std::string::npos) << r.err;
    }
    for (const std::string& n : Names()) EXPECT_NE(n[0], '.') << c.length;  // no temporary left
    std::error_code ignored;
    fs::remove(Path(name), ignored);
    fs::remove(Path(name + "~"), ignored);  // too long for a 255 name
  }
}

// As LinuxCNC's AXIS runs a filter: `sh -c "PROGRAM 'FILE'"`, standard input
// closed, the program read from standard output, progress on standard error.
TEST_F(BatchCliTest, RunsAsAnAxisFilter) {
  WriteAll(Path("p.ngc"), testing::MillProgram(100000));
  ASSERT_EQ(Run(SampleArgs({"-q", "-o", Path("expected.ngc"), Path("p.ngc")})).status, 0);
  const std::string program = std::string(BREVAND_BATCH_PATH) +
                              " --line-length 5 --line-feed 200 --arc-radius 3 --arc-feed 150 -o -";
  Launch axis;
  axis.shell = true;
  axis.input = "";
  axis.env = {"AXIS_PROGRESS_BAR=1"};
  const Result r = Run({program + " '" + Path("p.ngc") + "'"}, axis);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, ReadAll(Path("expected.ngc")));
  std::vector<int> progress;
  std::size_t at = 0;
  for (std::size_t end; (end = r.err.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = r.err.substr(at, end - at);
    if (line.rfind("FILTER_PROGRESS=", 0) != 0) continue;
    const std::string n = line.substr(16);
    ASSERT_TRUE(!n.empty() && n.find_first_not_of("0123456789") == std::string::npos) << line;
    progress.push_back(std::stoi(n));
  }
  ASSERT_GE(progress.size(), 3u) << r.err;
  EXPECT_EQ(progress.front(), 0);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

  // A failure: status 1, the reason on standard error for AXIS to show.
  WriteAll(Path("binary.ngc"), std::string("\x7f") + "ELF\1\1\1");
  const Result failed = Run({program + " '" + Path("binary.ngc") + "'"}, axis);
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_NE(failed.err.find("binary.ngc: is not a text file"), std::string::npos) << failed.err;
}

// On a terminal a long file shows a bar, wiped before the summary.
TEST_F(BatchCliTest, AProgressBarOnATerminal) {
  WriteAll(Path("p.ngc"), testing::MillProgram(250000));
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execl(BREVAND_BATCH_PATH, BREVAND_BATCH_PATH, "--line-length", "0.5", "--line-feed", "150", "-o",
            Path("out.ngc").c_str(), Path("p.ngc").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string screen;
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) screen.append(buffer, n);  // EIO at the end
  ::close(terminal);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
  const std::size_t bar = screen.find("\r" + Path("p.ngc") + " [=");
  const std::size_t wiped = screen.rfind("\r\033[K");
  const std::size_t summary = screen.find(Path("p.ngc") + ": 25");
  ASSERT_NE(bar, std::string::npos) << screen;
  EXPECT_TRUE(wiped != std::string::npos && wiped > bar && summary > wiped) << screen;
}

TEST_F(BatchCliTest, StandardInputToStandardOutput) {
  WriteAll(Path("p.ngc"), Sample("mill.ngc"));
  Launch pipe;
  pipe.shell = true;
  const Result r = Run({"cat '" + Path("p.ngc") + "' | " + BREVAND_BATCH_PATH +
                        " --line-length 5 --line-feed 200 --arc-radius 3 --arc-feed 150 -"},
                       pipe);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Sample("mill-expected.ngc"));
  EXPECT_NE(r.err.find("standard input: 29 lines walked, 14 written"), std::string::npos) << r.err;
  EXPECT_EQ(Names(), (std::vector<std::string>{"p.ngc"}));
}

TEST_F(BatchCliTest, WriteErrorsAreReported) {
  WriteAll(Path("p.ngc"), Sample("mill.ngc"));
  const std::vector<std::string> cases[] = {{"--help"}, {"--version"}, SampleArgs({"-nq", Path("p.ngc")}),
                                            SampleArgs({"-q", "-o-", Path("p.ngc")})};
  Launch full;
  full.output = "/dev/full";
  for (const auto& args : cases) {
    const Result r = Run(args, full);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_NE(r.err.find("standard output: cannot be written (No space left on device)"), std::string::npos)
        << r.err;
  }
  EXPECT_EQ(ReadAll(Path("p.ngc")), Sample("mill.ngc"));
}

// The dry run's diff, applied with patch, gives what the run saves: CR LF,
// no final break, mixed breaks kept line by line, lone CRs.
TEST_F(BatchCliTest, TheDryRunDiffIsTheSavedChange) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"crlf", "G21\r\nG1 X0 Y0 F300\r\nX0.5 Y0.5\r\nX9 Y9\r\n"},
      {"no final break", "G21\nG1 X0 Y0 F300\nX0.5 Y0.5\nX0.7 Y0.7"},
      {"mixed", "G21\r\nG1 X0 Y0 F300\nX0.5 Y0.5\r\nX1 Y1\rX9 Y9\nX9.5 Y9.5"},
      {"cr", "G1 X0 Y0 F300\rX0.5 Y0.5\rX9 Y9\r"},
  };
  for (const auto& c : cases) {
    WriteAll(Path("p.ngc"), c.text);
    WriteAll(Path("patched.ngc"), c.text);
    const Result dry = Run({"--line-length", "1", "--line-feed", "100", "-nq", Path("p.ngc")});
    ASSERT_EQ(dry.status, 0) << c.name << dry.err;
    ASSERT_FALSE(dry.out.empty()) << c.name;
    EXPECT_EQ(dry.out.back(), '\n') << c.name;
    WriteAll(Path("diff"), dry.out);
    ASSERT_EQ(std::system(("patch -s '" + Path("patched.ngc") + "' < '" + Path("diff") + "'").c_str()), 0)
        << c.name << "\n" << dry.out;
    ASSERT_EQ(Run({"--line-length", "1", "--line-feed", "100", "-q", Path("p.ngc")}).status, 0);
    EXPECT_EQ(ReadAll(Path("patched.ngc")), ReadAll(Path("p.ngc"))) << c.name;
    EXPECT_NE(ReadAll(Path("p.ngc")), c.text) << c.name;
  }
  EXPECT_NE(ReadAll(Path("p.ngc")).find("X0.5 Y0.5 F100\rX9 Y9 F300\r"), std::string::npos);
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
