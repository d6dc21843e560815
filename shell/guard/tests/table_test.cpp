#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "shell/guard/registry_table.h"

namespace guard {
namespace {

using Bytes = std::array<unsigned char, kTableSize>;

TEST(RegistryTable, FieldsSitAtTheirOffsetsLittleEndian) {
  Bytes b{};
  RegistryTable t(b.data());
  t.SetMaxCount(65535);
  ASSERT_TRUE(t.Append(0x12345678));
  ASSERT_TRUE(t.Append(0x00ABCDEF));
  const std::vector<unsigned char> head(b.begin(), b.begin() + 12);
  EXPECT_EQ(head, (std::vector<unsigned char>{0xFF, 0xFF, 2, 0, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD,
                                              0xAB, 0x00}));
}

TEST(RegistryTable, AppendAndRemoveKeepTableOrder) {
  struct Case {
    std::vector<std::uint32_t> entered;
    std::uint32_t leaving;
    bool found;
    std::vector<std::uint32_t> left;
  };
  const Case cases[] = {
      {{10, 20, 30}, 10, true, {20, 30}},
      {{10, 20, 30}, 20, true, {10, 30}},
      {{10, 20, 30}, 30, true, {10, 20}},
      {{10, 20, 30}, 40, false, {10, 20, 30}},
      {{}, 10, false, {}},
  };
  for (const Case& c : cases) {
    Bytes b{};
    RegistryTable t(b.data());
    for (auto pid : c.entered) ASSERT_TRUE(t.Append(pid));
    EXPECT_EQ(t.Remove(c.leaving), c.found);
    EXPECT_EQ(t.Pids(), c.left);
    EXPECT_EQ(t.RawCount(), c.left.size());
    // The freed slot is cleared.
    if (c.found) {
      EXPECT_EQ(t.Pid(c.left.size()), 0u);
    }
  }
}

TEST(RegistryTable, FullTableRefusesWithoutWritingPastItsEnd) {
  std::array<unsigned char, kTableSize + 8> b{};
  b.fill(0);
  RegistryTable t(b.data());
  for (std::uint32_t i = 1; i <= kTableEntries; ++i) ASSERT_TRUE(t.Append(i));
  EXPECT_FALSE(t.Append(999));
  EXPECT_EQ(t.Count(), kTableEntries);
  EXPECT_EQ(t.Pid(kTableEntries - 1), kTableEntries);
  for (std::size_t i = kTableSize; i < b.size(); ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(t.IndexOf(999), -1);
}

TEST(RegistryTable, PurgeDropsDeadAndZeroEntriesKeepingOrder) {
  Bytes b{};
  RegistryTable t(b.data());
  for (std::uint32_t pid : {5u, 0u, 7u, 9u, 11u}) t.Append(pid);
  const auto dropped = t.Purge([](std::uint32_t pid) { return pid == 7 || pid == 11; });
  EXPECT_EQ(dropped, (std::vector<std::uint32_t>{0, 7, 11}));
  EXPECT_EQ(t.Pids(), (std::vector<std::uint32_t>{5, 9}));
  EXPECT_EQ(t.Pid(2), 0u);
}

TEST(RegistryTable, DamagedCountIsCappedAndRepairedByPurge) {
  Bytes b{};
  b[2] = 0xFF;  // count 65535 in a 257-entry table
  b[3] = 0xFF;
  RegistryTable t(b.data());
  EXPECT_EQ(t.Count(), kTableEntries);
  EXPECT_FALSE(t.Append(1));
  t.Purge([](std::uint32_t) { return false; });  // every slot is zero
  EXPECT_EQ(t.RawCount(), 0);
  EXPECT_TRUE(t.Append(1));
}

}  // namespace
}  // namespace guard
