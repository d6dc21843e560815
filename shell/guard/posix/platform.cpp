#include "shell/guard/posix/platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <fstream>
#include <iterator>

#include <QCoreApplication>
#include <QString>

#include "shell/guard/identity_key.h"
#include "shell/guard/instance_guard.h"
#include "shell/guard/posix/endpoint.h"
#include "shell/guard/posix/file_lock.h"
#include "shell/guard/posix/runtime_dir.h"
#include "shell/guard/posix/shared_table_file.h"

namespace guard::posix {

Platform::Platform()
    : key_(IdentityKey(ProgramPath())),
      dir_(RuntimeDirectory()),
      keyHash_(KeyHashText(key_)),
      messageId_(static_cast<std::uint32_t>(KeyHash(key_ + "_Msg"))),
      pid_(static_cast<std::uint32_t>(getpid())),
      lock_(std::make_unique<RecursiveFileLock>(dir_ + "/" + ObjectName(dir_, key_, "_Otx"))) {}

Platform::~Platform() = default;

void Platform::LockTable() { lock_->Acquire(); }
void Platform::UnlockTable() { lock_->Release(); }

void Platform::OpenTable() {
  table_ = std::make_unique<SharedTableFile>(dir_ + "/" + ObjectName(dir_, key_, "_Map"));
}

unsigned char* Platform::TableBytes() { return table_->Bytes(); }

void Platform::OpenEndpoint() {
  endpoint_ = std::make_unique<Endpoint>(EndpointOf(pid_), messageId_,
                                         [this](const Message& m) { return Dispatch(m); });
  AttachToEventLoop();
}

void Platform::AttachToEventLoop() {
  if (endpoint_ && QCoreApplication::instance() != nullptr) endpoint_->AttachToEventLoop();
}

std::string Platform::EndpointOf(std::uint32_t pid) const { return EndpointPath(dir_, keyHash_, pid); }

std::vector<std::uint32_t> Platform::GoneAmong(const std::vector<std::uint32_t>& pids) {
  std::vector<std::uint32_t> gone;
  for (std::uint32_t pid : pids) {
    const Liveness found = Probe(EndpointOf(pid), pid);
    if (found == Liveness::kAlive) continue;
    gone.push_back(pid);
    // Only a socket that refused is a dead copy's leftover; remove it when
    // it is one of ours. No copy binds a new one while we hold the lock.
    if (found == Liveness::kRefused) {
      const std::string path = EndpointOf(pid);
      struct stat st {};
      if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == geteuid()) {
        unlink(path.c_str());
      }
    }
  }
  return gone;
}

void Platform::NotifyCopy(std::uint32_t pid, std::uint32_t code, std::uint32_t value) {
  Message m;
  m.type = Message::Type::kNotice;
  m.messageId = messageId_;
  m.code = code;
  m.value = value;
  Post(EndpointOf(pid), pid, m);
}

void Platform::AskCopy(std::uint32_t pid, Guard& asker, Clock::time_point roundEnd) {
  Message m;
  m.type = Message::Type::kNotice;
  m.messageId = messageId_;
  m.code = kActivityQuery;
  m.value = pid_;
  const std::optional<std::uint32_t> answer =
      pid == pid_ ? Dispatch(m) : Call(EndpointOf(pid), pid, m, endpoint_.get(), roundEnd);
  if (answer) asker.HandleNotice(kActivityAnswer, *answer);
}

bool Platform::BringCopyToFront(std::uint32_t pid) {
  Message m;
  m.type = Message::Type::kActivate;
  m.messageId = messageId_;
  const std::optional<std::uint32_t> done =
      Call(EndpointOf(pid), pid, m, endpoint_.get(), Clock::now() + std::chrono::milliseconds(kAnswerWaitMs));
  return done.value_or(0) != 0;
}

bool Platform::SendDataTo(std::uint32_t pid, const std::string& windowClass, std::uint32_t kind,
                          const std::vector<unsigned char>& data, Guard* /*originator*/,
                          Clock::time_point roundEnd) {
  // Every copy's socket serves guards of the one class there is; the
  // receiver learns the sender from the socket itself.
  if (windowClass != kGuardWindowClassName || data.size() > kMaxData) return false;
  Message m;
  m.type = Message::Type::kCopyData;
  m.messageId = messageId_;
  m.dataKind = kind;
  m.data = data;
  std::optional<std::uint32_t> answer;
  if (pid == pid_) {
    m.senderPid = pid_;
    answer = Dispatch(m);
  } else {
    answer = Call(EndpointOf(pid), pid, m, endpoint_.get(), roundEnd);
  }
  return answer.value_or(0) != 0;
}

std::vector<std::u16string> Platform::OwnArguments() const {
  // Exactly as the process received them.
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::u16string> args;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(QString::fromLocal8Bit(all.data() + start, static_cast<qsizetype>(end - start)).toStdU16String());
    start = end + 1;
  }
  if (!args.empty()) args.erase(args.begin());
  return args;
}

std::optional<std::string> Platform::GetApplicationWnd(std::uint32_t pid) {
  const std::string path = EndpointOf(pid);
  if (pid != pid_ && !Alive(path, pid)) return std::nullopt;
  return path;
}

void Platform::AddGuardWindow(Guard* window) { windows_.push_back(window); }

void Platform::RemoveGuardWindow(Guard* window) { std::erase(windows_, window); }

std::optional<std::uint32_t> Platform::Dispatch(const Message& m) {
  const std::vector<Guard*> windows = windows_;  // a handler may add or remove guards
  switch (m.type) {
    case Message::Type::kNotice: {
      std::optional<std::uint32_t> answer;
      for (Guard* w : windows) {
        const auto a = w->HandleNotice(m.code, m.value);
        if (a) answer = a;
        if (answer && *answer == 0) break;  // one inactive guard decides
      }
      return answer;
    }
    case Message::Type::kCopyData: {
      std::uint32_t result = 0;
      for (Guard* w : windows) {
        result = w->HandleCopyData(m.senderPid == pid_, m.dataKind, m.data.data(), m.data.size());
      }
      return result;
    }
    case Message::Type::kActivate: {
      if (!activate_) return 0;
      try {
        return activate_() ? 1 : 0;
      } catch (...) {
        ProcessRegistry().ReportError(std::current_exception());
        return 0;
      }
    }
    case Message::Type::kPing:
      break;
  }
  return std::nullopt;
}

}  // namespace guard::posix
