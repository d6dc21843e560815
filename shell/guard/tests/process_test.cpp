// Real probe processes against one private runtime directory per test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shell/guard/identity_key.h"
#include "shell/guard/posix/endpoint.h"
#include "shell/guard/posix/runtime_dir.h"
#include "shell/guard/registry_table.h"

extern char** environ;

namespace guard {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class GuardProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/guardtest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    dir_ = root_ + "/run";
    ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0);
  }

  void TearDown() override {
    for (pid_t pid : started_) {
      kill(pid, SIGCONT);
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Starts the probe at `exe` (default: the built one) with XDG_RUNTIME_DIR
  // set to this test's directory. Its record file is Record(pid).
  pid_t Start(std::vector<std::string> args = {}, std::string exe = GUARD_PROBE_PATH,
              std::string runtimeDir = "") {
    const std::string record = root_ + "/rec." + std::to_string(counter_++);
    std::vector<std::string> argv = {exe, "--record", record};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0) env.push_back(*e);
    }
    env.push_back("XDG_RUNTIME_DIR=" + (runtimeDir.empty() ? dir_ : runtimeDir));
    if (std::getenv("DISPLAY") == nullptr) env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> cargv, cenv;
    for (auto& s : argv) cargv.push_back(s.data());
    for (auto& s : env) cenv.push_back(s.data());
    cargv.push_back(nullptr);
    cenv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      execve(cargv[0], cargv.data(), cenv.data());
      _exit(127);
    }
    started_.push_back(pid);
    records_[pid] = record;
    return pid;
  }

  std::string Record(pid_t pid) {
    std::ifstream in(records_[pid]);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  bool Has(pid_t pid, const std::string& line) {
    return ("\n" + Record(pid)).find("\n" + line) != std::string::npos;
  }

  bool WaitFor(pid_t pid, const std::string& line, int ms = 20000) {
    const auto end = Clock::now() + milliseconds(ms);
    while (Clock::now() < end) {
      if (Has(pid, line)) return true;
      std::this_thread::sleep_for(milliseconds(20));
    }
    return false;
  }

  // The exit code, or -1 when it did not end in time (then it is killed).
  int WaitExit(pid_t pid, int ms = 20000) {
    const auto end = Clock::now() + milliseconds(ms);
    int status = 0;
    while (Clock::now() < end) {
      const pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) {
        std::erase(started_, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(milliseconds(20));
    }
    return -1;
  }

  pid_t StartRunning(std::vector<std::string> args = {}, std::string exe = GUARD_PROBE_PATH) {
    const pid_t pid = Start(std::move(args), std::move(exe));
    EXPECT_TRUE(WaitFor(pid, "ready")) << Record(pid);
    return pid;
  }

  std::string Key(const std::string& exe = GUARD_PROBE_PATH) {
    return IdentityKey(fs::canonical(exe).string());
  }
  std::string TablePath(const std::string& exe = GUARD_PROBE_PATH) {
    return dir_ + "/" + posix::ObjectName(dir_, Key(exe), "_Map");
  }
  std::string LockPath() { return dir_ + "/" + posix::ObjectName(dir_, Key(), "_Otx"); }
  std::string SocketPath(std::uint32_t pid) { return posix::EndpointPath(dir_, KeyHashText(Key()), pid); }

  std::vector<unsigned char> ReadTable(const std::string& exe = GUARD_PROBE_PATH) {
    std::ifstream in(TablePath(exe), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
  }
  void WriteTable(std::vector<unsigned char> bytes) {
    bytes.resize(kTableSize);
    std::ofstream(TablePath(), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                       static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<std::uint32_t> TablePids(const std::string& exe = GUARD_PROBE_PATH) {
    auto bytes = ReadTable(exe);
    if (bytes.size() != kTableSize) return {};
    return RegistryTable(bytes.data()).Pids();
  }

  std::string root_, dir_;
  int counter_ = 0;
  std::vector<pid_t> started_;
  std::map<pid_t, std::string> records_;
};

pid_t DeadPid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

// Takes every descriptor the process may still open, until destroyed.
class DescriptorExhaustion {
 public:
  DescriptorExhaustion() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    int highest = 2;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
      highest = std::max(highest, std::atoi(e.path().filename().c_str()));
    }
    rlimit low = saved_;
    low.rlim_cur = static_cast<rlim_t>(highest + 1);
    setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
  }
  ~DescriptorExhaustion() {
    for (int fd : taken_) close(fd);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }

 private:
  rlimit saved_{};
  std::vector<int> taken_;
};

TEST_F(GuardProcessTest, ProbeCountsACopyGoneOnlyOnEvidence) {
  const std::uint32_t self = static_cast<std::uint32_t>(getpid());
  const std::uint32_t dead = static_cast<std::uint32_t>(DeadPid());
  const std::string listening = dir_ + "/listening";
  const std::string refusing = dir_ + "/refusing";
  int listener = -1;
  for (const std::string& path : {listening, refusing}) {
    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(s, 8), 0);
    if (path == listening) listener = s;
    else close(s);  // the file stays, nobody listens: refused
  }
  using posix::Liveness;
  const struct {
    const char* name;
    std::string path;
    std::uint32_t pid;
    bool exhausted;
    Liveness expected;
  } cases[] = {
      {"listening, this process", listening, self, false, Liveness::kAlive},
      {"listening, another pid", listening, static_cast<std::uint32_t>(getppid()), false, Liveness::kGone},
      {"refusing", refusing, self, false, Liveness::kRefused},
      {"refusing, dead process", refusing, dead, false, Liveness::kRefused},
      {"no socket", dir_ + "/none", self, false, Liveness::kGone},
      {"no process", dir_ + "/none", dead, false, Liveness::kGone},
      {"no descriptor left", listening, self, true, Liveness::kAlive},
      {"no descriptor left, no process", listening, dead, true, Liveness::kGone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Liveness found;
    if (c.exhausted) {
      DescriptorExhaustion hold;
      found = posix::Probe(c.path, c.pid);
    } else {
      found = posix::Probe(c.path, c.pid);
    }
    EXPECT_EQ(found, c.expected);
  }
  close(listener);
}

TEST_F(GuardProcessTest, SecondStartIsRejectedAndHandsOverToTheFirst) {
  const pid_t first = StartRunning({"--events", "--minimized"});
  const pid_t second = Start({"alpha", "beta gamma", "\xC3\xA9t\xC3\xA9"});
  EXPECT_EQ(WaitExit(second), 0);
  EXPECT_TRUE(Has(second, "rejected"));
  EXPECT_FALSE(Has(second, "allowed"));
  EXPECT_TRUE(WaitFor(first, "activated wasMinimized=1 minimized=0 visible=1")) << Record(first);
  // Its whole argument list arrives, one line an argument.
  EXPECT_TRUE(WaitFor(first, "cmdline --record|" + records_[second] + "|alpha|beta gamma|\xC3\xA9t\xC3\xA9"))
      << Record(first);
  EXPECT_TRUE(Has(first, "created " + std::to_string(second)));
  EXPECT_TRUE(WaitFor(first, "destroyed " + std::to_string(second)));
  EXPECT_EQ(TablePids(), std::vector<std::uint32_t>{static_cast<std::uint32_t>(first)});
  EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0) << "the first copy still runs";
}

TEST_F(GuardProcessTest, RunningCopyAnswersWhileItsModalBoxIsUp) {
  const pid_t first = StartRunning({"--events", "--modal"});
  ASSERT_TRUE(WaitFor(first, "modal"));
  const pid_t second = Start({"zeta"});
  EXPECT_EQ(WaitExit(second), 0);
  // Both arrive only when the box's own loop serves the socket.
  EXPECT_TRUE(WaitFor(first, "activated"));
  EXPECT_TRUE(WaitFor(first, "cmdline --record|" + records_[second] + "|zeta"));
}

TEST_F(GuardProcessTest, StartIsAllowedWhenTheRunningCopiesAnswerInactive) {
  const pid_t first = StartRunning({"--inactive"});
  const pid_t second = StartRunning();
  EXPECT_TRUE(Has(second, "allowed inactive")) << Record(second);
  // A third start asks the first, which answers inactive again.
  const pid_t third = StartRunning();
  EXPECT_TRUE(Has(third, "allowed inactive")) << Record(third);
  EXPECT_FALSE(Has(first, "activated"));
  EXPECT_EQ(TablePids().size(), 3u);
}

TEST_F(GuardProcessTest, OtherPathRunsBeside) {
  const std::string other = root_ + "/other_probe";
  fs::copy_file(GUARD_PROBE_PATH, other);
  const pid_t first = StartRunning();
  const pid_t second = StartRunning({}, other);
  EXPECT_TRUE(Has(second, "allowed"));
  EXPECT_FALSE(Has(second, "rejected"));
  EXPECT_EQ(TablePids(other), std::vector<std::uint32_t>{static_cast<std::uint32_t>(second)});
  EXPECT_EQ(TablePids(), std::vector<std::uint32_t>{static_cast<std::uint32_t>(first)});
}

TEST_F(GuardProcessTest, SamePathInOtherLetterCaseIsTheSameProgram) {
  const std::string lower = root_ + "/case_probe";
  const std::string upper = root_ + "/CASE_PROBE";
  fs::copy_file(GUARD_PROBE_PATH, lower);
  if (link(lower.c_str(), upper.c_str()) != 0) {
    GTEST_SKIP() << "this file system does not keep names that differ only in letter case ("
                 << std::strerror(errno) << ")";
  }
  const pid_t first = StartRunning({}, lower);
  const pid_t second = Start({}, upper);
  EXPECT_EQ(WaitExit(second), 0);
  EXPECT_TRUE(Has(second, "rejected"));
  EXPECT_TRUE(WaitFor(first, "activated"));
}

TEST_F(GuardProcessTest, NewStartIsAllowedAfterNormalClose) {
  const pid_t first = StartRunning({"--events"});
  kill(first, SIGTERM);
  EXPECT_EQ(WaitExit(first), 0);
  EXPECT_TRUE(Has(first, "exit"));
  EXPECT_TRUE(TablePids().empty());
  EXPECT_FALSE(fs::exists(SocketPath(static_cast<std::uint32_t>(first))));
  const pid_t second = StartRunning();
  EXPECT_TRUE(Has(second, "allowed"));
}

TEST_F(GuardProcessTest, SimultaneousStartsLeaveExactlyOneRunning) {
  constexpr int kStarts = 20;
  std::vector<pid_t> pids;
  for (int i = 0; i < kStarts; ++i) pids.push_back(Start());
  int rejected = 0;
  std::vector<pid_t> running;
  for (pid_t pid : pids) {
    // Every start ends up either rejected (exit 0) or running.
    const auto end = Clock::now() + milliseconds(60000);
    while (Clock::now() < end && !Has(pid, "ready") && !Has(pid, "rejected")) {
      std::this_thread::sleep_for(milliseconds(20));
    }
    if (Has(pid, "rejected")) {
      EXPECT_EQ(WaitExit(pid), 0);
      ++rejected;
    } else {
      EXPECT_TRUE(Has(pid, "ready")) << Record(pid);
      running.push_back(pid);
    }
  }
  EXPECT_EQ(rejected, kStarts - 1);
  ASSERT_EQ(running.size(), 1u);
  EXPECT_EQ(TablePids(), std::vector<std::uint32_t>{static_cast<std::uint32_t>(running[0])});
}

TEST_F(GuardProcessTest, KilledCopyBlocksNoLaterStart) {
  const pid_t first = StartRunning();
  kill(first, SIGKILL);
  EXPECT_EQ(WaitExit(first), 128 + SIGKILL);
  const pid_t second = StartRunning();
  EXPECT_TRUE(Has(second, "allowed"));
  EXPECT_EQ(TablePids(), std::vector<std::uint32_t>{static_cast<std::uint32_t>(second)});
  EXPECT_FALSE(fs::exists(SocketPath(static_cast<std::uint32_t>(first)))) << "stale socket removed";
}

TEST_F(GuardProcessTest, EntriesOfProcessesThatAreNoCopiesAreDropped) {
  // A dead copy with its socket left behind, a pid now used by a process that
  // is no copy (with a socket at its path that another process listens on),
  // and a zero entry: none of them blocks a start. Only the socket that
  // refused is removed.
  const pid_t dead = DeadPid();
  const pid_t stranger = fork();
  if (stranger == 0) {
    pause();
    _exit(0);
  }
  {
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = SocketPath(static_cast<std::uint32_t>(dead));
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    listen(s, 1);
    close(s);
  }
  const std::string foreign = SocketPath(static_cast<std::uint32_t>(stranger));
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, foreign.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 8), 0);
  }
  std::vector<unsigned char> bytes(kTableSize);
  RegistryTable t(bytes.data());
  t.SetMaxCount(65535);
  t.Append(static_cast<std::uint32_t>(dead));
  t.Append(static_cast<std::uint32_t>(stranger));
  t.Append(0);
  WriteTable(bytes);
  const pid_t copy = StartRunning();
  EXPECT_TRUE(Has(copy, "allowed"));
  EXPECT_EQ(TablePids(), std::vector<std::uint32_t>{static_cast<std::uint32_t>(copy)});
  EXPECT_FALSE(fs::exists(SocketPath(static_cast<std::uint32_t>(dead))));
  EXPECT_TRUE(fs::exists(foreign));
  close(listener);
  kill(stranger, SIGKILL);
  waitpid(stranger, nullptr, 0);
}

TEST_F(GuardProcessTest, CopyThatCannotBeProbedCountsAsAlive) {
  // The second start has no descriptor left to probe the first with: it
  // cannot tell, so the first stays in the table and keeps its socket.
  const pid_t first = StartRunning({"--events"});
  const pid_t second = Start({"--exhaust-fds"});
  EXPECT_EQ(WaitExit(second), 0) << Record(second);
  EXPECT_TRUE(Has(second, "exhausted ")) << Record(second);
  EXPECT_TRUE(Has(second, "rejected")) << Record(second);
  EXPECT_FALSE(Has(second, "allowed"));
  EXPECT_TRUE(fs::exists(SocketPath(static_cast<std::uint32_t>(first))));
  EXPECT_EQ(TablePids(), std::vector<std::uint32_t>{static_cast<std::uint32_t>(first)});
  // So later starts are still rejected and reach the first.
  const pid_t third = Start();
  EXPECT_EQ(WaitExit(third), 0);
  EXPECT_TRUE(Has(third, "rejected")) << Record(third);
  EXPECT_TRUE(WaitFor(first, "activated"));
}

TEST_F(GuardProcessTest, RejectedCopyLeavesTheTableBeforeItsBox) {
  // While the second start's box is up, the running copy closes and the
  // user starts again: that start runs, and the box's end changes nothing.
  const std::string gate = root_ + "/dismissed";
  const pid_t first = StartRunning({"--events"});
  const pid_t second = Start({"--reject-wait", gate});
  ASSERT_TRUE(WaitFor(second, "rejected")) << Record(second);
  EXPECT_EQ(TablePids(), std::vector<std::uint32_t>{static_cast<std::uint32_t>(first)});
  EXPECT_TRUE(WaitFor(first, "destroyed " + std::to_string(second))) << Record(first);
  kill(first, SIGTERM);
  EXPECT_EQ(WaitExit(first), 0);
  EXPECT_TRUE(TablePids().empty());
  const pid_t third = Start({"--events"});
  ASSERT_TRUE(WaitFor(third, "ready")) << Record(third);
  EXPECT_TRUE(Has(third, "allowed")) << Record(third);
  std::ofstream(gate).put('x');
  EXPECT_EQ(WaitExit(second), 0);
  // It brought forward the copy that ran when it was rejected (gone now),
  // never itself nor the new one.
  EXPECT_FALSE(Has(second, "activated")) << Record(second);
  EXPECT_FALSE(Has(second, "allowed"));
  EXPECT_FALSE(Has(third, "activated")) << Record(third);
  EXPECT_EQ(TablePids(), std::vector<std::uint32_t>{static_cast<std::uint32_t>(third)});
}

TEST_F(GuardProcessTest, RejectedCopyEndsWithZeroWhenTheLockStaysOutOfReachAfterItsBox) {
  const std::string gate = root_ + "/dismissed";
  const pid_t first = StartRunning({"--events"});
  const pid_t second = Start({"--reject-wait", gate, "late"});
  ASSERT_TRUE(WaitFor(second, "rejected")) << Record(second);
  // Another holder keeps the registry lock from here on.
  const int lock = open(LockPath().c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  std::ofstream(gate).put('x');
  EXPECT_EQ(WaitExit(second, 30000), 0) << Record(second);
  EXPECT_TRUE(WaitFor(first, "activated")) << Record(first);
  close(lock);
  EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0) << "the first copy still runs";
}

TEST_F(GuardProcessTest, ActivationDuringCreationWaitsForTheFirstShow) {
  const std::string gate = root_ + "/created";
  const pid_t first = Start({"--create-wait", gate});
  ASSERT_TRUE(WaitFor(first, "creating")) << Record(first);
  const pid_t second = Start();
  EXPECT_EQ(WaitExit(second), 0);
  EXPECT_TRUE(Has(second, "rejected"));
  // The first got the request while still creating its window: nothing shown.
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_FALSE(Has(first, "activated")) << Record(first);
  std::ofstream(gate).put('x');
  ASSERT_TRUE(WaitFor(first, "ready")) << Record(first);
  // Once the window has been shown the waiting activation brings it forward.
  EXPECT_TRUE(WaitFor(first, "activated")) << Record(first);
  EXPECT_TRUE(Has(first, "activated wasMinimized=0 minimized=0 visible=1 wasVisible=1")) << Record(first);
  EXPECT_FALSE(Has(first, "activated wasMinimized=0 minimized=0 visible=1 wasVisible=0")) << Record(first);
}

TEST_F(GuardProcessTest, CopyThatDoesNotAnswerCountsAsNotAnswering) {
  const pid_t first = StartRunning({"--events"});
  kill(first, SIGSTOP);
  const auto begin = Clock::now();
  const pid_t second = Start({"late"});
  EXPECT_EQ(WaitExit(second, 30000), 0);
  EXPECT_TRUE(Has(second, "rejected"));
  EXPECT_LT(Clock::now() - begin, milliseconds(20000));
  kill(first, SIGCONT);
  EXPECT_TRUE(WaitFor(first, "ready"));
  EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0);
}

TEST_F(GuardProcessTest, FullTableRejectsTheStartCleanly) {
  const pid_t first = StartRunning();
  // 256 live copies besides the first: children that listen on their sockets.
  int ready[2], hold[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(hold), 0);
  const std::string prefix = SocketPath(0).substr(0, SocketPath(0).size() - 1);
  std::vector<pid_t> children;
  for (std::size_t i = 1; i < kTableEntries; ++i) {
    const pid_t c = fork();
    if (c == 0) {
      close(hold[1]);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s%d", prefix.c_str(), getpid());
      const int s = socket(AF_UNIX, SOCK_STREAM, 0);
      bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      listen(s, 4);
      (void)!write(ready[1], "r", 1);
      char b;
      (void)!read(hold[0], &b, 1);  // until the test closes its end
      unlink(addr.sun_path);
      _exit(0);
    }
    children.push_back(c);
  }
  close(hold[0]);
  for (std::size_t i = 0; i < children.size(); ++i) {
    char b;
    ASSERT_EQ(read(ready[0], &b, 1), 1);
  }
  std::vector<unsigned char> bytes = ReadTable();
  RegistryTable t(bytes.data());
  for (pid_t c : children) ASSERT_TRUE(t.Append(static_cast<std::uint32_t>(c)));
  WriteTable(bytes);

  const pid_t late = Start({"--events"});
  EXPECT_EQ(WaitExit(late), 0);
  EXPECT_TRUE(Has(late, "rejected")) << Record(late);
  EXPECT_TRUE(WaitFor(first, "activated"));
  EXPECT_EQ(fs::file_size(TablePath()), kTableSize);
  const auto pids = TablePids();
  EXPECT_EQ(pids.size(), kTableEntries);
  EXPECT_EQ(pids.front(), static_cast<std::uint32_t>(first));

  close(hold[1]);
  for (pid_t c : children) waitpid(c, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
}

TEST_F(GuardProcessTest, ObjectsOfAnotherUserAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user (uid 65534)";
  constexpr uid_t kNobody = 65534;
  enum class Object { kTable, kLock, kSocket, kDirectory };
  for (Object object : {Object::kTable, Object::kLock, Object::kSocket, Object::kDirectory}) {
    SCOPED_TRACE(static_cast<int>(object));
    fs::remove_all(dir_);
    ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0);
    const std::string gate = root_ + "/go";
    fs::remove(gate);
    const pid_t pid = Start({"--wait-file", gate});
    std::string path;
    switch (object) {
      case Object::kTable: path = TablePath(); break;
      case Object::kLock: path = LockPath(); break;
      case Object::kSocket: path = SocketPath(static_cast<std::uint32_t>(pid)); break;
      case Object::kDirectory: path = dir_; break;
    }
    if (object == Object::kSocket) {
      const int s = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::strcpy(addr.sun_path, path.c_str());
      ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
      close(s);
    } else if (object != Object::kDirectory) {
      std::ofstream(path).put('x');
    }
    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    std::ofstream(gate).put('x');
    EXPECT_EQ(WaitExit(pid), 1);
    EXPECT_TRUE(Has(pid, "error ")) << Record(pid);
    EXPECT_NE(Record(pid).find("belongs to another user"), std::string::npos) << Record(pid);
    EXPECT_FALSE(Has(pid, "allowed"));
    // Nothing was taken over.
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
  }
}

}  // namespace
}  // namespace guard
