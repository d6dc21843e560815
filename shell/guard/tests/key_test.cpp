#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "shell/guard/identity_key.h"
#include "shell/guard/jv_app_instances.h"
#include "shell/guard/posix/runtime_dir.h"

namespace guard {
namespace {

TEST(IdentityKey, UpperCasesAndReplacesSlashes) {
  struct Case {
    const char* path;
    const char* key;
  };
  const Case cases[] = {
      {"/usr/bin/brevand", "JCL_USR_BIN_BREVAND"},
      {"/opt/Norvane/Brevand-1.2/brevand", "JCL_OPT_NORVANE_BREVAND-1.2_BREVAND"},
      {"/home/josé/bin/brevand", "JCL_HOME_JOSÉ_BIN_BREVAND"},
      {"/tmp/a b/x", "JCL_TMP_A B_X"},
  };
  for (const Case& c : cases) EXPECT_EQ(IdentityKey(c.path), c.key) << c.path;
  EXPECT_EQ(IdentityKey("/Usr/BIN/Brevand"), IdentityKey("/usr/bin/brevand"));
  EXPECT_NE(IdentityKey("/usr/bin/brevand"), IdentityKey("/usr/bin/brevand2"));
}

TEST(IdentityKey, ProgramPathIsThisExecutableUnlessOverridden) {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  ASSERT_GT(n, 0);
  EXPECT_EQ(ProgramPath(), std::string(buf, static_cast<std::size_t>(n)));
  SetProgramPathForTesting("/x/y");
  EXPECT_EQ(ProgramPath(), "/x/y");
  SetProgramPathForTesting("");
  EXPECT_EQ(ProgramPath(), std::string(buf, static_cast<std::size_t>(n)));
}

TEST(ObjectName, LongKeysAreShortenedByTheirHashAndStayDistinct) {
  const std::string shortKey = IdentityKey("/usr/bin/brevand");
  EXPECT_EQ(posix::ObjectName("/tmp", shortKey, "_Map"), shortKey + "_Map");

  const long max = pathconf("/tmp", _PC_NAME_MAX);
  const std::string stem = IdentityKey("/" + std::string(300, 'a'));
  for (const char* tail : {"/b", "/c", "/é"}) {
    const std::string key = stem + IdentityKey(tail);
    const std::string name = posix::ObjectName("/tmp", key, "_Otx");
    EXPECT_LE(static_cast<long>(name.size()), max);
    EXPECT_EQ(name.substr(name.size() - 4), "_Otx");
    EXPECT_NE(name.find(KeyHashText(key)), std::string::npos);
  }
  // A cut never splits a UTF-8 sequence: here it would fall inside the first "É".
  const std::string tail = "_" + std::string(16, '0') + "_Map";
  const std::size_t keep = static_cast<std::size_t>(max) - tail.size();
  const std::string key = std::string(keep - 1, 'X') + "\xC3\x89\xC3\x89" + std::string(40, 'Y');
  EXPECT_EQ(posix::ObjectName("/tmp", key, "_Map"),
            std::string(keep - 1, 'X') + "_" + KeyHashText(key) + "_Map");
}

TEST(SplitLines, BreaksOnCrLfCrOrLf) {
  struct Case {
    const char* text;
    QStringList lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a\r\n", {"a"}},
      {"a\r\nb c\r\n", {"a", "b c"}},
      {"\r\n\r\n", {"", ""}},
      {"a\nb\rc", {"a", "b", "c"}},
      {"tail", {"tail"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TJvAppInstances::SplitLines(QString::fromUtf8(c.text)), c.lines) << c.text;
  }
}

}  // namespace
}  // namespace guard
