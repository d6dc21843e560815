#include "shell/guard/win32/objects.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "shell/guard/guard_error.h"
#include "shell/guard/registry_table.h"

namespace guard::win32 {

namespace {

std::wstring& OverridePath() {
  static std::wstring path;
  return path;
}

// FNV-1a 64 over the UTF-16 code units, low byte first.
std::uint64_t KeyHash(const std::wstring& key) {
  std::uint64_t h = 14695981039346656037ull;
  for (wchar_t c : key) {
    for (unsigned byte : {static_cast<unsigned>(c) & 0xFFu, (static_cast<unsigned>(c) >> 8) & 0xFFu}) {
      h ^= byte;
      h *= 1099511628211ull;
    }
  }
  return h;
}

}  // namespace

std::wstring IdentityKey(const std::wstring& programPath) {
  std::wstring key = L"Jcl" + programPath;
  if (!key.empty()) CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
  for (wchar_t& c : key) {
    if (c == L'\\') c = L'_';
  }
  return key;
}

std::wstring ProgramPath() {
  if (!OverridePath().empty()) return OverridePath();
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) throw GuardError("Cannot find the program file");
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    if (buffer.size() >= 32768) throw GuardError("Cannot find the program file");
    buffer.resize(buffer.size() * 2);
  }
}

void SetProgramPathForTesting(const std::wstring& path) { OverridePath() = path; }

std::wstring ObjectName(const std::wstring& key, const std::wstring& suffix, std::size_t maxLength) {
  if (key.size() + suffix.size() <= maxLength) return key + suffix;
  wchar_t hash[20];
  std::swprintf(hash, 20, L"_%016llx", static_cast<unsigned long long>(KeyHash(key)));
  const std::wstring tail = hash + suffix;
  std::size_t keep = maxLength > tail.size() ? maxLength - tail.size() : 0;
  // Never end the kept part inside a surrogate pair.
  if (keep > 0 && keep < key.size() && key[keep - 1] >= 0xD800 && key[keep - 1] <= 0xDBFF) --keep;
  return key.substr(0, keep) + tail;
}

RegistryLock::RegistryLock(const std::wstring& name)
    : mutex_(CreateMutexW(nullptr, FALSE, name.c_str())) {
  if (mutex_ == nullptr) throw GuardError("Failed to create event");
}

RegistryLock::~RegistryLock() { CloseHandle(mutex_); }

void RegistryLock::Take() {
  switch (WaitForSingleObject(mutex_, kWaitMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder died; the table is still whole (each write is one field)
      return;
    case WAIT_TIMEOUT:
      throw GuardError("The instance registry lock is held by another copy that does not release it");
    default:
      throw GuardError("Failed to take the instance registry lock");
  }
}

void RegistryLock::Release() { ReleaseMutex(mutex_); }

SharedTable::SharedTable(const std::wstring& name) {
  mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                static_cast<DWORD>(kTableSize), name.c_str());
  if (mapping_ == nullptr) throw GuardError("Failed to create FileMapping");
  view_ = static_cast<unsigned char*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, kTableSize));
  if (view_ == nullptr) {
    CloseHandle(mapping_);
    throw GuardError("Failed to create FileMappingView");
  }
}

SharedTable::~SharedTable() {
  UnmapViewOfFile(view_);
  CloseHandle(mapping_);
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr,
                      nullptr);
  return narrow;
}

}  // namespace guard::win32
