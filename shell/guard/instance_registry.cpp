#include "shell/guard/instance_registry.h"

#include <algorithm>
#include <cstdio>

#include "shell/guard/registry_table.h"

namespace guard {

namespace {

std::unique_ptr<InstanceRegistry>& Instance() {
  static std::unique_ptr<InstanceRegistry> instance;
  return instance;
}

}  // namespace

InstanceRegistry& ProcessRegistry() {
  if (!Instance()) Instance() = MakeProcessRegistry();
  return *Instance();
}

bool JclAppInstancesExists() { return Instance() != nullptr; }

void ReleaseJclAppInstances() { Instance().reset(); }

InstanceRegistry::InstanceRegistry(GuardPlatform& platform)
    : platform_(platform), pid_(platform.OwnPid()) {
  TableLock hold(platform_);
  platform_.OpenTable();
  Purge(/*ownIsStale=*/true);
  platform_.OpenEndpoint();
}

InstanceRegistry::~InstanceRegistry() {
  try {
    Leave();
  } catch (...) {
    // The lock stayed out of reach: the others drop this entry once we are gone.
  }
}

void InstanceRegistry::Purge(bool ownIsStale) {
  RegistryTable table(platform_.TableBytes());
  std::vector<std::uint32_t> others;
  for (std::uint32_t pid : table.Pids()) {
    if (pid != pid_ && pid != 0) others.push_back(pid);
  }
  const std::vector<std::uint32_t> gone = platform_.GoneAmong(others);
  table.Purge([&](std::uint32_t pid) {
    if (pid == pid_) return ownIsStale;
    return std::find(gone.begin(), gone.end(), pid) != gone.end();
  });
}

bool InstanceRegistry::CheckInstance(std::uint16_t maxInstances) {
  std::size_t n;
  std::uint16_t max;
  {
    TableLock hold(platform_);
    Purge(false);
    RegistryTable table(platform_.TableBytes());
    if (table.MaxCount() == 0) table.SetMaxCount(maxInstances);
    max = table.MaxCount();
    if (const int at = table.IndexOf(pid_); at >= 0) return at < max;
    n = table.Count();
    tableFull_ = !table.Append(pid_);
    if (tableFull_) return false;
  }
  if (n < max) Announce(kInstanceCreated, pid_);
  return n < max;
}

int InstanceRegistry::InstanceCount() {
  TableLock hold(platform_);
  Purge(false);
  return static_cast<int>(RegistryTable(platform_.TableBytes()).Count());
}

int InstanceRegistry::InstanceIndex(std::uint32_t pid) {
  TableLock hold(platform_);
  Purge(false);
  return RegistryTable(platform_.TableBytes()).IndexOf(pid);
}

std::vector<std::uint32_t> InstanceRegistry::ProcessIDs() {
  TableLock hold(platform_);
  Purge(false);
  return RegistryTable(platform_.TableBytes()).Pids();
}

std::optional<std::uint32_t> InstanceRegistry::ProcessAt(int index) {
  TableLock hold(platform_);
  RegistryTable table(platform_.TableBytes());
  if (index < 0 || static_cast<std::size_t>(index) >= table.Count()) return std::nullopt;
  return table.Pid(static_cast<std::size_t>(index));
}

void InstanceRegistry::Announce(std::uint32_t code, std::uint32_t value) {
  TableLock hold(platform_);
  for (std::uint32_t pid : RegistryTable(platform_.TableBytes()).Pids()) {
    platform_.NotifyCopy(pid, code, value);  // an unreachable copy is skipped
  }
}

void InstanceRegistry::Leave() {
  if (left_) return;
  left_ = true;  // tried once: a lock out of reach is not waited for again
  TableLock hold(platform_);
  RegistryTable(platform_.TableBytes()).Remove(pid_);
  Announce(kInstanceDestroyed, pid_);
}

bool InstanceRegistry::SwitchTo(int index) {
  const std::optional<std::uint32_t> pid = ProcessAt(index);
  return pid.has_value() && SwitchToProcess(*pid);
}

bool InstanceRegistry::SwitchToProcess(std::uint32_t pid) {
  // A copy never brings itself to the front: one that is first in the table
  // while it is being rejected has no window to show.
  if (pid == pid_) return false;
  return platform_.BringCopyToFront(pid);
}

bool InstanceRegistry::SendCmdLineParams(const std::string& windowClass, Guard* originator) {
  return SendStrings(windowClass, kCmdLineDataKind, platform_.OwnArguments(), originator);
}

bool InstanceRegistry::SendStrings(const std::string& windowClass, std::uint32_t kind,
                                   const std::vector<std::u16string>& strings, Guard* originator) {
  std::u16string text;
  for (const std::u16string& s : strings) text += s + u"\r\n";
  return SendString(windowClass, kind, text, originator);
}

bool InstanceRegistry::SendString(const std::string& windowClass, std::uint32_t kind,
                                  const std::u16string& text, Guard* originator) {
  // UTF-16 code units, little-endian, no terminating zero.
  std::vector<unsigned char> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    bytes.push_back(static_cast<unsigned char>(c >> 8));
  }
  return SendData(windowClass, kind, bytes.data(), bytes.size(), originator);
}

bool InstanceRegistry::SendData(const std::string& windowClass, std::uint32_t kind, const void* data,
                                std::size_t size, Guard* originator) {
  const auto* p = static_cast<const unsigned char*>(data);
  const std::vector<unsigned char> bytes(p, p + size);
  const auto roundEnd = Clock::now() + std::chrono::milliseconds(kRoundWaitMs);
  bool any = false;
  for (std::uint32_t pid : ProcessIDs()) {
    if (platform_.SendDataTo(pid, windowClass, kind, bytes, originator, roundEnd)) any = true;
  }
  return any;
}

void InstanceRegistry::ReportError(std::exception_ptr error) noexcept {
  if (report_) {
    try {
      report_(error);
      return;
    } catch (...) {
    }
  }
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "An unknown error escaped a guard event handler\n");
  }
}

}  // namespace guard
