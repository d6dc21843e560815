#include "refhost/toolpath/machine_profile.h"

#include <gtest/gtest.h>

namespace refhost {
namespace {

TEST(MachineProfile, DefaultsReadBackFromTheirText) {
  for (const MachineProfile& p : {SmallMillProfile(), SmallLatheProfile()}) {
    MachineProfile back;
    std::string error;
    ASSERT_TRUE(ParseMachineProfile(FormatMachineProfile(p), MachineProfile(), back, error)) << error;
    EXPECT_EQ(back.name, p.name);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(back.max_velocity[i], p.max_velocity[i]);
      EXPECT_EQ(back.max_acceleration[i], p.max_acceleration[i]);
    }
    EXPECT_EQ(back.blend_tolerance, p.blend_tolerance);
    EXPECT_EQ(back.tool_change, p.tool_change);
  }
}

TEST(MachineProfile, KeysLeftOutKeepTheBase) {
  MachineProfile p;
  std::string error;
  ASSERT_TRUE(ParseMachineProfile("# ours\n\ntool_change = 12 \r\n", SmallMillProfile(), p, error));
  EXPECT_EQ(p.tool_change, 12);
  EXPECT_EQ(p.max_velocity[2], SmallMillProfile().max_velocity[2]);
}

TEST(MachineProfile, RefusesBadLinesNamingThem) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"max_velocity = 1 2\n", "line 1: max_velocity takes three numbers above 0 (X Y Z), not \"1 2\""},
      {"name = a\nmax_acceleration = 1 0 1\n", "line 2: max_acceleration takes three numbers above 0"},
      {"tool_change = -1\n", "line 1: tool_change takes a number of 0 or more"},
      {"blend_tolerance = 1mm\n", "line 1: blend_tolerance takes a number"},
      {"speed = 3\n", "line 1: unknown key \"speed\""},
      {"tool_change 3\n", "line 1: expected \"key = value\""},
      {"tool_change = 3\ntool_change = 4\n", "line 2: \"tool_change\" is given twice"},
  };
  for (const auto& c : cases) {
    MachineProfile p = SmallLatheProfile();
    std::string error;
    EXPECT_FALSE(ParseMachineProfile(c.text, SmallMillProfile(), p, error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_EQ(p.name, "small lathe") << "left as it was";
  }
}

}  // namespace
}  // namespace refhost
