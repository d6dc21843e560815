#include "shell/guard/registry_table.h"

namespace guard {

namespace {

std::uint16_t Load16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void Store16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

std::uint32_t Load32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Store32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

constexpr std::size_t kPidsOffset = 4;

}  // namespace

std::uint16_t RegistryTable::MaxCount() const { return Load16(bytes_); }
void RegistryTable::SetMaxCount(std::uint16_t value) { Store16(bytes_, value); }
std::uint16_t RegistryTable::RawCount() const { return Load16(bytes_ + 2); }
void RegistryTable::SetRawCount(std::uint16_t value) { Store16(bytes_ + 2, value); }

std::size_t RegistryTable::Count() const {
  std::size_t n = RawCount();
  return n > kTableEntries ? kTableEntries : n;
}

std::uint32_t RegistryTable::Pid(std::size_t index) const {
  return Load32(bytes_ + kPidsOffset + 4 * index);
}

void RegistryTable::SetPid(std::size_t index, std::uint32_t pid) {
  Store32(bytes_ + kPidsOffset + 4 * index, pid);
}

int RegistryTable::IndexOf(std::uint32_t pid) const {
  const std::size_t n = Count();
  for (std::size_t i = 0; i < n; ++i) {
    if (Pid(i) == pid) return static_cast<int>(i);
  }
  return -1;
}

bool RegistryTable::Append(std::uint32_t pid) {
  const std::size_t n = Count();
  if (n >= kTableEntries) return false;
  SetPid(n, pid);
  SetRawCount(static_cast<std::uint16_t>(n + 1));
  return true;
}

bool RegistryTable::Remove(std::uint32_t pid) {
  const int at = IndexOf(pid);
  if (at < 0) return false;
  const std::size_t n = Count();
  for (std::size_t i = static_cast<std::size_t>(at); i + 1 < n; ++i) SetPid(i, Pid(i + 1));
  SetPid(n - 1, 0);
  SetRawCount(static_cast<std::uint16_t>(n - 1));
  return true;
}

std::vector<std::uint32_t> RegistryTable::Purge(const std::function<bool(std::uint32_t)>& dead) {
  std::vector<std::uint32_t> dropped;
  const std::size_t n = Count();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t pid = Pid(i);
    if (pid == 0 || dead(pid)) {
      dropped.push_back(pid);
      continue;
    }
    SetPid(kept++, pid);
  }
  for (std::size_t i = kept; i < n; ++i) SetPid(i, 0);
  SetRawCount(static_cast<std::uint16_t>(kept));
  return dropped;
}

std::vector<std::uint32_t> RegistryTable::Pids() const {
  std::vector<std::uint32_t> pids;
  const std::size_t n = Count();
  pids.reserve(n);
  for (std::size_t i = 0; i < n; ++i) pids.push_back(Pid(i));
  return pids;
}

}  // namespace guard
