#include "shell/guard/jcl_app_instances.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "shell/guard/guard_error.h"
#include "shell/guard/identity_key.h"
#include "shell/guard/posix/endpoint.h"
#include "shell/guard/posix/file_lock.h"
#include "shell/guard/posix/runtime_dir.h"
#include "shell/guard/posix/shared_table_file.h"
#include "shell/guard/registry_table.h"

#include <QCoreApplication>

namespace guard {

namespace {

using posix::Message;
using posix::ScopedLock;

// Arguments 1..n exactly as the process received them.
QStringList OwnArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  QStringList args;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.append(QString::fromLocal8Bit(all.data() + start, static_cast<qsizetype>(end - start)));
    start = end + 1;
  }
  if (!args.isEmpty()) args.removeFirst();
  return args;
}

std::unique_ptr<TJclAppInstances>& Instance() {
  static std::unique_ptr<TJclAppInstances> instance;
  return instance;
}

}  // namespace

TJclAppInstances::TJclAppInstances()
    : key_(IdentityKey(ProgramPath())),
      dir_(posix::RuntimeDirectory()),
      keyHash_(KeyHashText(key_)),
      messageId_(static_cast<std::uint32_t>(KeyHash(key_ + "_Msg"))),
      pid_(static_cast<std::uint32_t>(getpid())) {
  lock_ = std::make_unique<posix::RecursiveFileLock>(dir_ + "/" + posix::ObjectName(dir_, key_, "_Otx"));
  ScopedLock hold(*lock_);
  table_ = std::make_unique<posix::SharedTableFile>(dir_ + "/" + posix::ObjectName(dir_, key_, "_Map"));
  // An entry with this pid now is a dead copy's whose pid came back to us.
  Purge(/*ownIsStale=*/true);
  endpoint_ = std::make_unique<posix::Endpoint>(EndpointOf(pid_), messageId_,
                                                [this](const Message& m) { return Dispatch(m); });
  AttachToEventLoop();
}

void TJclAppInstances::AttachToEventLoop() {
  if (QCoreApplication::instance() != nullptr) endpoint_->AttachToEventLoop();
}

TJclAppInstances::~TJclAppInstances() {
  try {
    ScopedLock hold(*lock_);
    RegistryTable(table_->Bytes()).Remove(pid_);
    Announce(kInstanceDestroyed, pid_);
  } catch (const std::exception&) {
    // The lock stayed out of reach: the others drop this entry once we are gone.
  }
}

std::string TJclAppInstances::EndpointOf(std::uint32_t pid) const {
  return posix::EndpointPath(dir_, keyHash_, pid);
}

void TJclAppInstances::Purge(bool ownIsStale) {
  RegistryTable table(table_->Bytes());
  std::vector<std::uint32_t> refused;
  table.Purge([&](std::uint32_t pid) {
    if (pid == pid_) return ownIsStale;
    const posix::Liveness found = posix::Probe(EndpointOf(pid), pid);
    if (found == posix::Liveness::kRefused) refused.push_back(pid);
    return found != posix::Liveness::kAlive;
  });
  // Only a socket that refused is a dead copy's leftover; remove it when it
  // is one of ours. No copy binds a new one while we hold the lock.
  for (std::uint32_t pid : refused) {
    const std::string path = EndpointOf(pid);
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == geteuid()) {
      unlink(path.c_str());
    }
  }
}

bool TJclAppInstances::CheckInstance(std::uint16_t maxInstances) {
  std::size_t n;
  std::uint16_t max;
  {
    ScopedLock hold(*lock_);
    Purge(false);
    RegistryTable table(table_->Bytes());
    if (table.MaxCount() == 0) table.SetMaxCount(maxInstances);
    max = table.MaxCount();
    if (table.IndexOf(pid_) >= 0) return table.IndexOf(pid_) < max;
    n = table.Count();
    tableFull_ = !table.Append(pid_);
    if (tableFull_) return false;
  }
  if (n < max) Announce(kInstanceCreated, pid_);
  return n < max;
}

int TJclAppInstances::InstanceCount() {
  ScopedLock hold(*lock_);
  Purge(false);
  return static_cast<int>(RegistryTable(table_->Bytes()).Count());
}

int TJclAppInstances::InstanceIndex(std::uint32_t pid) {
  ScopedLock hold(*lock_);
  Purge(false);
  return RegistryTable(table_->Bytes()).IndexOf(pid);
}

std::vector<std::uint32_t> TJclAppInstances::ProcessIDs() {
  ScopedLock hold(*lock_);
  return RegistryTable(table_->Bytes()).Pids();
}

void TJclAppInstances::Announce(std::uint32_t code, std::uint32_t value) {
  ScopedLock hold(*lock_);
  Message m;
  m.type = Message::Type::kNotice;
  m.messageId = messageId_;
  m.code = code;
  m.value = value;
  for (std::uint32_t pid : RegistryTable(table_->Bytes()).Pids()) {
    posix::Post(EndpointOf(pid), pid, m);  // an unreachable copy is skipped
  }
}

std::optional<std::string> TJclAppInstances::GetApplicationWnd(std::uint32_t pid) {
  if (pid == pid_) return EndpointOf(pid);
  const std::string path = EndpointOf(pid);
  if (!posix::Alive(path, pid)) return std::nullopt;
  return path;
}

std::optional<std::uint32_t> TJclAppInstances::QueryActivity(std::uint32_t pid,
                                                             std::chrono::steady_clock::time_point roundEnd) {
  Message m;
  m.type = Message::Type::kNotice;
  m.messageId = messageId_;
  m.code = kActivityQuery;
  m.value = pid_;
  if (pid == pid_) return Dispatch(m);
  return posix::Call(EndpointOf(pid), pid, m, endpoint_.get(), roundEnd);
}

bool TJclAppInstances::SwitchTo(int index) {
  std::uint32_t pid;
  {
    ScopedLock hold(*lock_);
    RegistryTable table(table_->Bytes());
    if (index < 0 || static_cast<std::size_t>(index) >= table.Count()) return false;
    pid = table.Pid(static_cast<std::size_t>(index));
  }
  // A copy never brings itself to the front: a rejected start that finds
  // itself first (the running copy left meanwhile) has no window to show.
  if (pid == pid_) return false;
  Message m;
  m.type = Message::Type::kActivate;
  m.messageId = messageId_;
  const std::optional<std::uint32_t> done =
      posix::Call(EndpointOf(pid), pid, m, endpoint_.get(),
                  std::chrono::steady_clock::now() + std::chrono::milliseconds(posix::kAnswerWaitMs));
  return done.value_or(0) != 0;
}

bool TJclAppInstances::SendCmdLineParams(const std::string& windowClassName, GuardWindow* originator) {
  return SendStrings(windowClassName, kCmdLineDataKind, OwnArguments(), originator);
}

bool TJclAppInstances::SendStrings(const std::string& windowClassName, std::uint32_t kind,
                                   const QStringList& strings, GuardWindow* originator) {
  QString text;
  for (const QString& s : strings) text += s + QStringLiteral("\r\n");
  return SendString(windowClassName, kind, text, originator);
}

bool TJclAppInstances::SendString(const std::string& windowClassName, std::uint32_t kind,
                                  const QString& text, GuardWindow* originator) {
  // UTF-16 code units, little-endian, no terminating zero.
  std::vector<unsigned char> bytes;
  bytes.reserve(static_cast<std::size_t>(text.size()) * 2);
  for (QChar c : text) {
    bytes.push_back(static_cast<unsigned char>(c.unicode() & 0xFF));
    bytes.push_back(static_cast<unsigned char>(c.unicode() >> 8));
  }
  return SendData(windowClassName, kind, bytes.data(), bytes.size(), originator);
}

bool TJclAppInstances::SendData(const std::string& windowClassName, std::uint32_t kind,
                                const void* data, std::size_t size, GuardWindow* originator) {
  (void)originator;  // the receiver learns the sender from the socket itself
  // Every copy's socket serves guards of the one class there is.
  if (windowClassName != kGuardWindowClass || size > posix::kMaxData) return false;
  Message m;
  m.type = Message::Type::kCopyData;
  m.messageId = messageId_;
  m.dataKind = kind;
  const auto* p = static_cast<const unsigned char*>(data);
  m.data.assign(p, p + size);
  bool any = false;
  const auto roundEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(posix::kRoundWaitMs);
  for (std::uint32_t pid : ProcessIDs()) {
    std::optional<std::uint32_t> answer;
    if (pid == pid_) {
      m.senderPid = pid_;
      answer = Dispatch(m);
    } else {
      answer = posix::Call(EndpointOf(pid), pid, m, endpoint_.get(), roundEnd);
    }
    any = any || answer.value_or(0) != 0;
  }
  return any;
}

void TJclAppInstances::AddGuardWindow(GuardWindow* window) { windows_.push_back(window); }

void TJclAppInstances::RemoveGuardWindow(GuardWindow* window) {
  std::erase(windows_, window);
}

void TJclAppInstances::ReportError(const std::exception& e) {
  if (report_) {
    try {
      report_(e);
      return;
    } catch (...) {
    }
  }
  std::fprintf(stderr, "%s\n", e.what());
}

std::optional<std::uint32_t> TJclAppInstances::Dispatch(const Message& m) {
  const std::vector<GuardWindow*> windows = windows_;  // a handler may add or remove guards
  switch (m.type) {
    case Message::Type::kNotice: {
      std::optional<std::uint32_t> answer;
      for (GuardWindow* w : windows) {
        const auto a = w->HandleNotice(m.code, m.value);
        if (a) answer = a;
        if (answer && *answer == 0) break;  // one inactive guard decides
      }
      return answer;
    }
    case Message::Type::kCopyData: {
      std::uint32_t result = 0;
      for (GuardWindow* w : windows) result = w->HandleCopyData(m.senderPid, m.dataKind, m.data);
      return result;
    }
    case Message::Type::kActivate: {
      if (!activate_) return 0;
      try {
        return activate_() ? 1 : 0;
      } catch (const std::exception& e) {
        ReportError(e);
        return 0;
      }
    }
    case Message::Type::kPing:
      break;
  }
  return std::nullopt;
}

TJclAppInstances& JclAppInstances() {
  if (!Instance()) Instance() = std::make_unique<TJclAppInstances>();
  return *Instance();
}

bool JclAppInstancesExists() { return Instance() != nullptr; }

void ReleaseJclAppInstances() { Instance().reset(); }

}  // namespace guard
