// The shared table of running copies, laid out byte for byte:
//   offset 0  u16  maximum count
//   offset 2  u16  number of entries
//   offset 4  257 x u32 process ids, in order of entry
// All fields little-endian. The view neither owns nor locks the bytes: the
// caller holds the registry lock around every call.
#ifndef SHELL_GUARD_REGISTRY_TABLE_H_
#define SHELL_GUARD_REGISTRY_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace guard {

inline constexpr std::size_t kTableEntries = 257;
inline constexpr std::size_t kTableSize = 4 + 4 * kTableEntries;  // 1032
static_assert(kTableSize == 1032);

class RegistryTable {
 public:
  // Requires `bytes` to point at kTableSize bytes that outlive the view.
  explicit RegistryTable(unsigned char* bytes) : bytes_(bytes) {}

  std::uint16_t MaxCount() const;
  void SetMaxCount(std::uint16_t value);

  // The stored number of entries, as written (may exceed kTableEntries in a
  // damaged table; Count() never does).
  std::uint16_t RawCount() const;
  // Number of usable entries: RawCount() capped at kTableEntries.
  std::size_t Count() const;

  // Requires index < kTableEntries.
  std::uint32_t Pid(std::size_t index) const;

  // Position of `pid` among the first Count() entries, or -1.
  int IndexOf(std::uint32_t pid) const;

  // Appends `pid` at index Count() and counts it. Returns false and changes
  // nothing when the table is full.
  bool Append(std::uint32_t pid);

  // Clears the first entry equal to `pid`, moves every later entry one place
  // toward the start and subtracts 1 from the count. False when not found.
  bool Remove(std::uint32_t pid);

  // Drops every entry for which `dead` is true, keeping the order of the
  // rest; also repairs a count above kTableEntries. Returns the dropped ids.
  std::vector<std::uint32_t> Purge(const std::function<bool(std::uint32_t)>& dead);

  // The first Count() process ids, in table order.
  std::vector<std::uint32_t> Pids() const;

 private:
  void SetPid(std::size_t index, std::uint32_t pid);
  void SetRawCount(std::uint16_t value);

  unsigned char* bytes_;
};

}  // namespace guard

#endif  // SHELL_GUARD_REGISTRY_TABLE_H_
