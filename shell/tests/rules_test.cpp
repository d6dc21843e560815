// The window's rules that need no window: key rule, snapping, scaling,
// error texts and the tab chain.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include <stdexcept>
#include <string>

#include "shell/edge_snap.h"
#include "shell/error_text.h"
#include "shell/key_rule.h"
#include "shell/layout.h"
#include "shell/named_mutex.h"
#include "shell/scaling.h"

namespace shell {
namespace {

TEST(KeyRule, OnlyLowerCaseAsciiLettersChange) {
  struct Case {
    char16_t in, out;
  } cases[] = {
      {u'a', u'A'}, {u'z', u'Z'}, {u'm', u'M'},
      {u'A', u'A'}, {u'`', u'`'}, {u'{', u'{'},           // neighbours of a..z
      {u'0', u'0'}, {u' ', u' '}, {u'(', u'('}, {u'^', u'^'},
      {u'\u00e9', u'\u00e9'}, {u'\u00ff', u'\u00ff'},     // é and ÿ stay
      {u'\b', u'\b'}, {u'\r', u'\r'}, {u'\x1b', u'\x1b'}, // control keys
      {u'\x01', u'\x01'},                                  // Ctrl+A
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TypedKeyRule(c.in), c.out) << "code " << static_cast<int>(c.in);
  }
}

TEST(EdgeSnap, ReachIsBelowTenPixels) {
  const QRect area(0, 0, 1280, 1000);  // a work area without a task bar at the bottom
  const QSize size(437, 292);
  struct Case {
    QPoint dropped, landed;
  } cases[] = {
      {{9, 300}, {0, 300}},                                      // left, 9 px
      {{10, 300}, {10, 300}},                                    // left, 10 px
      {{-9, 300}, {0, 300}},                                     // past the left edge
      {{400, 9}, {400, 0}},                                      // top
      {{400, 10}, {400, 10}},
      {{1280 - 437 - 9, 300}, {1280 - 437, 300}},                // right
      {{1280 - 437 - 10, 300}, {1280 - 437 - 10, 300}},
      {{1280 - 437 + 9, 300}, {1280 - 437, 300}},                // past the right edge
      {{400, 1000 - 292 - 9}, {400, 1000 - 292}},                // bottom
      {{400, 1000 - 292 - 10}, {400, 1000 - 292 - 10}},
      {{5, 5}, {0, 0}},                                          // a corner
      {{0, 0}, {0, 0}},                                          // exactly 0,0: left alone
      {{0, 5}, {0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SnapToWorkArea(QRect(c.dropped, size), area), c.landed)
        << c.dropped.x() << "," << c.dropped.y();
  }
}

TEST(EdgeSnap, LaterEdgeWinsWhenTheWindowSpansTheArea) {
  // A window as wide as the area plus 5: both left and right are in reach,
  // the right edge is tested later and wins.
  const QRect area(100, 50, 400, 300);
  EXPECT_EQ(SnapToWorkArea(QRect(QPoint(103, 200), QSize(405, 20)), area), QPoint(95, 200));
  EXPECT_EQ(SnapToWorkArea(QRect(QPoint(200, 52), QSize(20, 303)), area), QPoint(200, 47));
}

TEST(Scaling, MulDivRoundsToNearest) {
  struct Case {
    int v, n, d, out;
  } cases[] = {
      {431, 13, 13, 431}, {431, 26, 13, 862}, {52, 27, 13, 108}, {11, 27, 13, 23},
      {1, 1, 2, 1},       {3, 1, 2, 2},       {-3, 1, 2, -2},    {15, 120, 96, 19},
      {11, 144, 96, 17},  {0, 5, 3, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MulDiv(c.v, c.n, c.d), c.out) << c.v << "*" << c.n << "/" << c.d;
  }
}

TEST(Scaling, OnlyAChangedZeroHeightScales) {
  EXPECT_TRUE(ScaleForZeroHeight(13).identity());
  EXPECT_TRUE(ScaleForZeroHeight(0).identity());
  const LayoutScale big = ScaleForZeroHeight(26);
  EXPECT_FALSE(big.identity());
  EXPECT_EQ(big(431), 862);
  EXPECT_EQ(ScaleForZeroHeight(16)(266), 327);
  EXPECT_EQ(FontPixelsAtDpi(11, 96), 11);
  EXPECT_EQ(FontPixelsAtDpi(11, 192), 22);
}

TEST(ErrorReport, PeriodRule) {
  struct Case {
    const char* message;
    const char* shown;
  } cases[] = {
      {"Invalid variant operation", "Invalid variant operation."},
      {"Floating point overflow", "Floating point overflow."},
      {"Could not convert variant of type (Null) into type (Double)",
       "Could not convert variant of type (Null) into type (Double)"},  // ')' < '.'
      {"Done.", "Done."},
      {"Really!", "Really!"},     // '!' < '.'
      {"a-b", "a-b."},            // '-' < '.' only for the last character
      {"ends in -", "ends in -"},
      {"1/", "1/."},              // '/' is just above '.'
      {"9", "9."},
      {"caf\xc3\xa9", "caf\xc3\xa9."},  // é
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WithReportPeriod(c.message), c.shown);
  }
}

TEST(ErrorReport, TextOfEscapedErrors) {
  auto text = [](auto thrower) {
    try {
      thrower();
    } catch (...) {
      return ErrorReportText(std::current_exception());
    }
    return std::optional<std::string>("nothing thrown");
  };
  EXPECT_EQ(text([] { throw std::runtime_error("Invalid variant operation"); }),
            "Invalid variant operation.");
  EXPECT_EQ(text([] { throw SilentAbort(); }), std::nullopt);
  EXPECT_EQ(text([] { throw 42; }), "Unknown error.");
  // The innermost error that carries a message is the one shown.
  EXPECT_EQ(text([] {
              try {
                throw std::runtime_error("inner text");
              } catch (...) {
                std::throw_with_nested(std::runtime_error("outer text"));
              }
            }),
            "inner text.");
  EXPECT_EQ(text([] {
              try {
                throw std::runtime_error("");
              } catch (...) {
                std::throw_with_nested(std::runtime_error("outer text"));
              }
            }),
            "outer text.");
  EXPECT_EQ(text([] {
              try {
                throw SilentAbort();
              } catch (...) {
                std::throw_with_nested(std::runtime_error("outer text"));
              }
            }),
            std::nullopt);
}

TEST(ApplicationError, TextNamesKindModuleAddressAndMessage) {
  EXPECT_EQ(StartupErrorText("std::runtime_error", "brevand", 0x4a1f0, "Failed to create FileMapping"),
            "Exception std::runtime_error in module brevand at 0004A1F0.\n"
            "Failed to create FileMapping.");
  // Here only an existing final period counts, and an empty message stays empty.
  EXPECT_EQ(WithStartupPeriod("Out (of) order)"), "Out (of) order).");
  EXPECT_EQ(WithStartupPeriod("Ends."), "Ends.");
  EXPECT_EQ(WithStartupPeriod(""), "");
  try {
    throw std::length_error("x");
  } catch (...) {
    EXPECT_EQ(ErrorKind(std::current_exception()), "std::length_error");
  }
}

TEST(Layout, TabChainCrossesTheWindowThenTheGroups) {
  const std::vector<std::string> expected = {"btnRun", "btnExit", "edt2", "edt4",
                                             "edt1",   "edt3",    "chk1"};
  EXPECT_EQ(MainWindowTabChain(), expected);
}

}  // namespace
}  // namespace shell

// The marker file: held with a shared lock, never another user's file.
namespace shell {
namespace {

class MarkerFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brevand-marker-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old != nullptr) saved_ = old;
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_) ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
  std::optional<std::string> saved_;
};

TEST_F(MarkerFile, CreatedAndHeldShared) {
  ASSERT_TRUE(CreateNamedMutex("TestMutex"));
  const int fd = ::open((dir_ + "/TestMutex").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0);  // others may share it
  EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);  // nobody takes it alone
  ::close(fd);
  EXPECT_TRUE(CreateNamedMutex("TestMutex"));  // an existing one is fine
}

TEST_F(MarkerFile, LinksAndOtherUsersFilesAreRefused) {
  const std::string target = dir_ + "/elsewhere";
  ::close(::open(target.c_str(), O_CREAT | O_WRONLY, 0600));
  ASSERT_EQ(::symlink(target.c_str(), (dir_ + "/Linked").c_str()), 0);
  EXPECT_FALSE(CreateNamedMutex("Linked"));
  if (::getuid() != 0) GTEST_SKIP() << "only root can make a file of another user here";
  const std::string foreign = dir_ + "/Foreign";
  ::close(::open(foreign.c_str(), O_CREAT | O_WRONLY, 0666));
  ASSERT_EQ(::chown(foreign.c_str(), 4242, 4242), 0);
  EXPECT_FALSE(CreateNamedMutex("Foreign"));
}

}  // namespace
}  // namespace shell
