#include "shell/guard/instance_guard.h"

#include <chrono>

namespace guard {

template <typename F>
void Guard::Raise(F&& call) noexcept {
  try {
    call();
  } catch (...) {
    ProcessRegistry().ReportError(std::current_exception());
  }
}

void Guard::Check() {
  if (!Active || MaxInstances <= 0) return;
  BeforeCheck();
  InstanceRegistry& registry = ProcessRegistry();
  if (!registry.TableWasFull()) {
    if (registry.Position() < MaxInstances) return;
    const std::uint32_t own = registry.ProcessID();
    const auto roundEnd = Clock::now() + std::chrono::milliseconds(kRoundWaitMs);
    for (std::uint32_t pid : registry.ProcessIDs()) {
      if (pid == own) continue;
      registry.Ask(pid, *this, roundEnd);
      if (!Active) break;
    }
    if (!Active) return;  // the others are inactive: this copy runs, inactive itself
  }
  Reject(registry);
}

void Guard::Reject(InstanceRegistry& registry) noexcept {
  // Out of the table before the box: while the user reads it, no copy asks
  // this one or takes it for the running one.
  std::optional<std::uint32_t> first;
  try {
    first = registry.ProcessAt(0);
    registry.Leave();
  } catch (...) {
  }
  Raise([this] { RaiseRejected(); });
  // From here on nothing may change the outcome: a rejected start ends with 0.
  try {
    if (AutoActivate && first) registry.SwitchToProcess(*first);
  } catch (...) {
  }
  try {
    if (SendCmdLine) registry.SendCmdLineParams(kGuardWindowClassName, this);
  } catch (...) {
  }
  try {
    ReleaseJclAppInstances();
  } catch (...) {
  }
  EndProcessNow(0);
}

void Guard::UserNotify(std::int32_t param) {
  ProcessRegistry().Announce(kUserNotify, static_cast<std::uint32_t>(param));
}

bool Guard::SendData(std::uint32_t kind, const void* data, std::size_t size) {
  return ProcessRegistry().SendData(kGuardWindowClassName, kind, data, size, this);
}

std::optional<std::uint32_t> Guard::HandleNotice(std::uint32_t code, std::uint32_t value) {
  switch (code) {
    case kInstanceCreated:
      if (value != ProcessRegistry().ProcessID()) Raise([&] { RaiseInstanceCreated(value); });
      break;
    case kInstanceDestroyed:
      Raise([&] { RaiseInstanceDestroyed(value); });
      break;
    case kUserNotify:
      Raise([&] { RaiseUserNotify(static_cast<std::int32_t>(value)); });
      break;
    case kActivityQuery:
      return Active ? 1 : 0;
    case kActivityAnswer:
      Active = value != 0;
      break;
    default:
      break;  // every other code is ignored
  }
  return std::nullopt;
}

std::uint32_t Guard::HandleCopyData(bool fromSelf, std::uint32_t kind, const unsigned char* data,
                                    std::size_t size) {
  if (fromSelf) return 0;
  if (data == nullptr) size = 0;
  if (kind == kCmdLineDataKind) {
    if (WantsCmdLine()) {
      std::u16string text;
      text.reserve(size / 2);
      for (std::size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
      }
      Raise([&] { RaiseCmdLineReceived(SplitLines(text)); });
    }
  } else {
    // A private copy, released after the handler returns.
    const std::vector<unsigned char> copy(data, data + size);
    Raise([&] { RaiseDataAvailable(kind, copy.data(), static_cast<std::uint32_t>(copy.size())); });
  }
  return 1;
}

std::vector<std::u16string> Guard::SplitLines(const std::u16string& text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      lines.push_back(text.substr(start, i - start));
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace guard
