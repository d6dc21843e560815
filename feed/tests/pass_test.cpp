#include "feed/pass.h"

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "feed/tests/piped_link.h"
#include "feed/tests/scripted_host.h"
#include "hostlink/host_error.h"
#include "mcparser/fpfault.h"

namespace feed {
namespace {

using testing::ScriptedHost;
using testing::ScriptedLine;
using Calls = std::vector<std::string>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Line limit 1, line feed 50, arc limit 5, arc feed 20; feeds in force 100.
PassInput Fields(bool chk1 = true) { return PassInput{"1", "50", "5", "20", chk1}; }

ScriptedLine Linear(TPoint3D to, double feed = 100) {
  ScriptedLine l;
  l.code = 1;
  l.p2 = to;
  l.feed = feed;
  return l;
}
ScriptedLine ShortDiagonal(double feed = 100) { return Linear({0.5, 0.5, 0}, feed); }
ScriptedLine ShortAlongX(double feed = 100) { return Linear({0.5, 0, 0}, feed); }
ScriptedLine Long(double feed = 100) { return Linear({10, 10, 0}, feed); }
ScriptedLine Arc(double radius, double code = 2, double feed = 100) {
  ScriptedLine l;
  l.code = code;
  l.p2 = {1, 1, 0};
  l.radius = radius;
  l.feed = feed;
  return l;
}
ScriptedLine SmallArc() { return Arc(2); }
ScriptedLine WithCode(ScriptedLine l, double code) {
  l.code = code;
  return l;
}

// Expected calls, built from the pass's fixed shapes.
Calls Head(int first) {
  return {"SystemType()", "StartSelection()", "EndSelection()",
          "selectline(" + std::to_string(first) + ",ref)"};
}
Calls Visit(bool arc) {
  Calls c = {"step()",          "CurrentBlock(4)", "CurrentBlock(5)",
             "CurrentBlock(6)", "CurrentBlock(7)", "CurrentBlock(8)",
             "CurrentBlock(9)", "CurrentBlock(19)", "CurrentBlock(1)"};
  if (arc) c.push_back("CurrentBlock(23)");
  return c;
}
Calls Write(long long line, double feed) {
  return {"selectline(" + std::to_string(line) + ",val)",
          "add(F," + ScriptedHost::Number(feed) + ")",
          "markline(" + std::to_string(line) + ",1,val)",
          "selectline(" + std::to_string(line + 1) + ",val)"};
}
void Append(Calls& to, const Calls& more) { to.insert(to.end(), more.begin(), more.end()); }

// What each visited line should see: whether 23 is read, then its writes.
struct Expect {
  bool arc;
  std::vector<double> writes;
};
Calls Walk(int first, const std::vector<Expect>& lines) {
  Calls c = Head(first);
  c.push_back("markline(0,0,ref)");
  long long line = first;
  for (const auto& e : lines) {
    Append(c, Visit(e.arc));
    for (double w : e.writes) Append(c, Write(line, w));
    ++line;
  }
  return c;
}

struct HostRun {
  ScriptedHost host;
  std::vector<std::string> messages;

  explicit HostRun(std::vector<ScriptedLine> lines, int systemType = 0, int first = 10) {
    host.systemType = systemType;
    host.start = first;
    host.end = static_cast<int>(first + static_cast<long long>(lines.size()) - 1);
    host.lines = std::move(lines);
  }
  // Runs the pass on `host`, one call at a time, and the same pass on a copy
  // of it through a link that batches: the user must see the same outcome
  // and the host the same calls. Throws what the pass on `host` throws.
  void Go(const PassInput& in) {
    ScriptedHost copy = host;
    std::vector<std::string> batchedMessages;
    std::string batched;
    try {
      hostlink::HostEditor link;
      link.Link(std::make_unique<testing::PipedTransport>(copy));
      RunPass(link, in, [&](const std::string& m) { batchedMessages.push_back(m); });
    } catch (const std::exception& e) {
      batched = std::string("error: ") + e.what();
    }
    try {
      RunPass(host, in, [this](const std::string& m) { messages.push_back(m); });
    } catch (const std::exception& e) {
      ExpectSameAs(copy.calls, batchedMessages, batched, std::string("error: ") + e.what());
      throw;
    }
    ExpectSameAs(copy.calls, batchedMessages, batched, "");
  }

 private:
  // Up to a failure the calls are the same; after it only what was already
  // on its way may follow: the rest of a line's step and reads, and the
  // mark and selection of a write travelling with them. Never an add.
  void ExpectSameAs(const Calls& batchedCalls, const std::vector<std::string>& batchedMessages,
                    const std::string& batched, const std::string& outcome) {
    EXPECT_EQ(batched, outcome) << "batched pass";
    EXPECT_EQ(batchedMessages, messages) << "batched pass";
    if (outcome.empty()) {
      EXPECT_EQ(batchedCalls, host.calls) << "batched pass";
      return;
    }
    ASSERT_GE(batchedCalls.size(), host.calls.size());
    EXPECT_EQ(Calls(batchedCalls.begin(), batchedCalls.begin() + host.calls.size()), host.calls);
    const Calls tail(batchedCalls.begin() + host.calls.size(), batchedCalls.end());
    EXPECT_LE(tail.size(), 10u);
    for (const std::string& c : tail) {
      const bool inFlight = c == "step()" || c.rfind("CurrentBlock(", 0) == 0 ||
                            (c.rfind("selectline(", 0) == 0 && c.find(",val)") != std::string::npos) ||
                            (c.rfind("markline(", 0) == 0 && c.find(",1,val)") != std::string::npos);
      EXPECT_TRUE(inFlight) << c;
    }
  }
};

// Every row of what one line receives. The line under test may follow a
// small arc (run open) and is followed by a long move, whose write (or its
// absence) shows whether the line left the run open.
TEST(Pass, WhatOneLineReceives) {
  struct Case {
    const char* name;
    bool runBefore;
    ScriptedLine line;
    bool chk1;
    std::vector<double> writes;  // on the line under test
    bool runAfter;
  } cases[] = {
      {"small arc, run clear", false, SmallArc(), true, {20}, true},
      {"small arc, run open", true, SmallArc(), true, {20}, true},
      {"short diagonal, run clear", false, ShortDiagonal(), true, {50}, true},
      {"short diagonal, run open", true, ShortDiagonal(), true, {100, 50}, true},
      {"short along x, chk1 clear, run clear", false, ShortAlongX(), false, {50}, true},
      {"short along x, chk1 clear, run open", true, ShortAlongX(), false, {100, 50}, true},
      {"short along x, chk1 ticked, run clear", false, ShortAlongX(), true, {}, false},
      {"short along x, chk1 ticked, run open", true, ShortAlongX(), true, {100}, false},
      {"long move, run clear", false, Long(), true, {}, false},
      {"long move, run open", true, Long(), true, {100}, false},
      {"large arc, run open", true, Arc(8, 3), true, {100}, false},
      {"rapid, run open", true, WithCode(ShortDiagonal(), 0), true, {100}, false},
      {"feed already the line feed, run open", true, ShortDiagonal(50), true, {50}, false},
      {"feed already the arc feed", false, Arc(2, 3, 20), true, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ScriptedLine> lines;
    std::vector<Expect> expect;
    if (c.runBefore) {
      lines.push_back(SmallArc());
      expect.push_back({true, {20}});
    }
    lines.push_back(c.line);
    const bool lineIsArc = c.line.code >= 2;
    expect.push_back({lineIsArc, c.writes});
    lines.push_back(Long(70));
    expect.push_back({false, c.runAfter ? std::vector<double>{70} : std::vector<double>{}});

    HostRun run(lines);
    run.Go(Fields(c.chk1));
    EXPECT_EQ(run.host.calls, Walk(10, expect));
    EXPECT_TRUE(run.messages.empty());
  }
}

TEST(Pass, EmptySelectionShowsTheMessageAndReadsNoField) {
  HostRun run({ShortDiagonal()});
  run.host.end = run.host.start;
  // Fields that would fault if they were evaluated.
  run.Go(PassInput{"1E400", "1E400", "1E400", "1E400", true});
  EXPECT_EQ(run.host.calls, Head(10));
  EXPECT_EQ(run.messages, std::vector<std::string>{"No Lines in Norvane Selected"});
}

TEST(Pass, SilentEndsBeforeAnyMark) {
  struct Case {
    PassInput in;
  } cases[] = {
      {{"0", "50", "5", "20"}},   {{"-1", "50", "5", "20"}}, {{"", "50", "5", "20"}},
      {{"abc", "50", "5", "20"}}, {{"1", "0", "5", "20"}},   {{"1", "-50", "5", "20"}},
      {{"1", "", "5", "20"}},     {{"1", "5*", "5", "20"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in.edt1 + " / " + c.in.edt3);
    HostRun run({ShortDiagonal(), SmallArc()});
    run.Go(c.in);
    EXPECT_EQ(run.host.calls, Head(10));
    EXPECT_TRUE(run.messages.empty());
  }
}

TEST(Pass, LastLineBelowFirstEndsAfterTheOpeningMark) {
  HostRun run({ShortDiagonal(), ShortDiagonal()});
  run.host.start = 12;
  run.host.end = 11;
  run.Go(Fields());
  Calls expect = Head(12);
  expect.push_back("markline(0,0,ref)");
  EXPECT_EQ(run.host.calls, expect);
  EXPECT_TRUE(run.messages.empty());
}

TEST(Pass, ArcFeedNotAboveZeroLeavesArcsAlone) {
  for (const char* arcFeed : {"0", "-20", ""}) {
    SCOPED_TRACE(arcFeed);
    HostRun run({SmallArc(), ShortDiagonal(), SmallArc()});
    run.Go(PassInput{"1", "50", "5", arcFeed, true});
    EXPECT_EQ(run.host.calls, Walk(10, {{true, {}}, {false, {50}}, {true, {100}}}));
  }
}

TEST(Pass, LimitsAreStrict) {
  // Length exactly the line limit, radius exactly the arc limit: not changed.
  HostRun run({Linear({1, 0, 0}), Arc(5), Linear({0.999, 0, 0}), Arc(4.999)});
  run.Go(Fields(false));
  EXPECT_EQ(run.host.calls,
            Walk(10, {{false, {}}, {true, {}}, {false, {50}}, {true, {20}}}));
}

TEST(Pass, ThreeShortDiagonalsThenALongMove) {
  HostRun run({ShortDiagonal(), ShortDiagonal(110), ShortDiagonal(120), Long(130)});
  run.Go(Fields());
  EXPECT_EQ(run.host.calls,
            Walk(10, {{false, {50}}, {false, {110, 50}}, {false, {120, 50}}, {false, {130}}}));
}

TEST(Pass, DiagonalFilterFollowsChk1) {
  const ScriptedLine at30 = Linear({0.5 * std::cos(std::numbers::pi / 6), 0.5 * std::sin(std::numbers::pi / 6), 0});
  for (const ScriptedLine& l : {ShortAlongX(), Linear({0, -0.5, 0}), at30}) {
    HostRun ticked({l, Long()});
    ticked.Go(Fields(true));
    EXPECT_EQ(ticked.host.calls, Walk(10, {{false, {}}, {false, {}}}));

    HostRun clear({l, Long()});
    clear.Go(Fields(false));
    EXPECT_EQ(clear.host.calls, Walk(10, {{false, {50}}, {false, {100}}}));
  }
}

TEST(Pass, SmallArcsThenARapidResumeTheFeed) {
  HostRun run({SmallArc(), Arc(1, 3), WithCode(Long(), 0)});
  run.Go(Fields());
  EXPECT_EQ(run.host.calls, Walk(10, {{true, {20}}, {true, {20}}, {false, {100}}}));
}

TEST(Pass, ZeroLengthMoveIsNeverChangedAsALine) {
  HostRun run({Linear({0, 0, 0}), Linear({3, 3, 3})});
  run.host.lines[1].p1 = {3, 3, 3};
  run.Go(Fields(false));
  EXPECT_EQ(run.host.calls, Walk(10, {{false, {}}, {false, {}}}));
}

TEST(Pass, RunReachingTheLastLineStaysOpen) {
  HostRun run({Long(), ShortDiagonal()});
  run.Go(Fields());
  EXPECT_EQ(run.host.calls, Walk(10, {{false, {}}, {false, {50}}}));
}

// The code a line names (truncated toward zero) replaces the one in force
// only when it is 0..3. The line under test is short, diagonal and would be
// a small arc too; the line before it sets the code in force.
TEST(Pass, MotionCodeInForce) {
  enum Outcome { kNone, kLine, kArc };
  struct Case {
    double before, code;
    Outcome outcome;
  } cases[] = {
      {1, 1, kLine},    {1, 1.99, kLine},  {1, 2, kArc},      {1, 3.7, kArc},
      {1, 0.5, kNone},  {1, -0.9, kNone},  {1, 7, kLine},     {1, -1, kLine},
      {1, 4, kLine},    {2, 7, kArc},      {0, 7, kNone},     {1, 1e12, kLine},
      {0, 4294967298.0, kNone},  // would read as 2 if wrapped to 32 bits
      {0, 2147483650.0, kNone},  {1, -1e300, kLine},          {3, 1e300, kArc},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " then " + std::to_string(c.code));
    ScriptedLine tested = ShortDiagonal();
    tested.code = c.code;
    tested.radius = 2;
    HostRun run({WithCode(Long(), c.before), tested});
    run.Go(Fields());
    const bool beforeArc = c.before >= 2;
    Expect second = {c.outcome == kArc, {}};
    if (c.outcome == kLine) second.writes = {50};
    if (c.outcome == kArc) second.writes = {20};
    EXPECT_EQ(run.host.calls, Walk(10, {{beforeArc, {}}, second}));
  }
}

TEST(Pass, OutOfRangeCodeOnTheFirstLineIsNeitherLineNorArc) {
  ScriptedLine first = ShortDiagonal();
  first.code = 7;
  first.radius = 2;
  HostRun run({first, WithCode(ShortDiagonal(), 7)});
  run.Go(Fields());
  EXPECT_EQ(run.host.calls, Walk(10, {{false, {}}, {false, {}}}));
}

TEST(Pass, LatheMeasuresInXZWithThePlanarBound) {
  struct Case {
    int systemType;
    const char* lineLimit;
    TPoint3D to;
    bool written;
  } cases[] = {
      {304, "1", {0.5, 100, 0.5}, true},   // short in X-Z, long in Y
      {0, "1", {0.5, 100, 0.5}, false},    // spatial: long
      {304, "1", {0.5, 0, 0.5}, true},     // diagonal in X-Z
      {0, "1", {0.5, 0, 0.5}, false},      // along X in X-Y
      {0, "1", {0.5, 0.5, 100}, false},    // spatial includes Z
      {304, "1E6", {200000, 0, 200000}, true},
      {304, "1E6", {200000.5, 0, 200000.5}, false},  // beyond the bound: length 0
      {304, "1E6", {0.25, 0, 200000.5}, false},
      {0, "1E6", {200000.5, 200000.5, 0}, true},     // no bound in space
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.systemType) + ": " + std::to_string(c.to.X) + "," +
                 std::to_string(c.to.Y) + "," + std::to_string(c.to.Z));
    // A rapid follows: it closes the run when the move was written.
    HostRun run({Linear(c.to), WithCode(Long(70), 0)}, c.systemType);
    run.Go(PassInput{c.lineLimit, "50", "5", "20", true});
    if (c.written) {
      EXPECT_EQ(run.host.calls, Walk(10, {{false, {50}}, {false, {70}}}));
    } else {
      EXPECT_EQ(run.host.calls, Walk(10, {{false, {}}, {false, {}}}));
    }
  }
}

TEST(Pass, HostFailureEndsThePassWhereItHappens) {
  // Calls: 4 head + mark, then 9 per line (step + 8 reads), and 4 per write.
  // Line 10 is written at calls 15..18, line 11 is visited at 19..27 and
  // written at 28..35 (feed in force, then the line feed).
  // The batched pass fails at the same call: a step (19), the fifth read of
  // a line (24), the mark (17) and the selection (18) that travel with the
  // next line's step and reads.
  for (std::size_t failAt : {1u, 4u, 5u, 6u, 16u, 17u, 18u, 19u, 24u, 27u, 29u, 35u}) {
    SCOPED_TRACE(failAt);
    HostRun run({ShortDiagonal(), ShortDiagonal(), Long()});
    Calls whole = Walk(10, {{false, {50}}, {false, {100, 50}}, {false, {100}}});
    run.host.failAtCall = failAt;
    run.host.failText = "Line locked";
    try {
      run.Go(Fields());
      ADD_FAILURE() << "no error";
    } catch (const hostlink::HostError& e) {
      EXPECT_STREQ(e.what(), "Line locked");
    }
    // Everything before the failing call happened; nothing after it.
    EXPECT_EQ(run.host.calls, Calls(whole.begin(), whole.begin() + failAt));
  }
}

TEST(Pass, SelectionBeyondTheDocumentEndsAtTheHostsRefusal) {
  HostRun run({ShortDiagonal(), Long()});
  run.host.end = INT32_MAX;  // the host has two lines
  EXPECT_THROW(run.Go(Fields()), hostlink::HostError);
  Calls expect = Walk(10, {{false, {50}}, {false, {100}}});
  expect.push_back("step()");
  EXPECT_EQ(run.host.calls, expect);
}

TEST(Pass, LastPossibleLineNumber) {
  const int first = INT32_MAX - 2;
  {  // the walk ends after the largest line
    HostRun run({Long(), Long(), Long()}, 0, first);
    run.Go(Fields());
    EXPECT_EQ(run.host.calls, Walk(first, {{false, {}}, {false, {}}, {false, {}}}));
  }
  {  // a write there has no next line to move to: refused before its calls
    HostRun run({Long(), ShortDiagonal(), ShortDiagonal()}, 0, first);
    EXPECT_THROW(run.Go(Fields()), std::overflow_error);
    Calls expect = Walk(first, {{false, {}}, {false, {50}}});
    Append(expect, Visit(false));
    EXPECT_EQ(run.host.calls, expect);
    EXPECT_EQ(run.host.calls[run.host.calls.size() - 10], "selectline(2147483647,val)");
  }
}

// A NaN or infinity from the host ends the pass at the read that returned
// it, even in the middle of an open run.
TEST(Pass, NonFiniteHostValueEndsThePassAtItsRead) {
  const std::vector<std::string> reads = Visit(true);
  for (int index : {4, 5, 6, 7, 8, 9, 19, 1, 23}) {
    for (double bad : {kNaN, kInf, -kInf}) {
      SCOPED_TRACE(std::to_string(index) + " = " + std::to_string(bad));
      ScriptedLine l = SmallArc();
      l.other[index] = bad;
      HostRun run({SmallArc(), l, Long()});
      try {
        run.Go(Fields());
        ADD_FAILURE() << "no error";
      } catch (const mcparser::FloatingPointError& e) {
        EXPECT_STREQ(e.what(), "Invalid floating point operation");
      }
      Calls expect = Walk(10, {{true, {20}}});
      const std::string read = "CurrentBlock(" + std::to_string(index) + ")";
      for (const auto& c : reads) {
        expect.push_back(c);
        if (c == read) break;
      }
      EXPECT_EQ(run.host.calls, expect);
    }
  }
}

TEST(Pass, CoordinatesThatOverflowEndThePass) {
  struct Case {
    int systemType;
    TPoint3D from, to;
  } cases[] = {
      {0, {0, 0, 0}, {1e200, 0, 0}},            // square beyond the range
      {0, {-1.5e308, 0, 0}, {1.5e308, 0, 0}},   // difference beyond it
      {304, {-1.5e308, 0, 0}, {1.5e308, 0, 0}},
  };
  for (const auto& c : cases) {
    ScriptedLine l = Linear(c.to);
    l.p1 = c.from;
    HostRun run({SmallArc(), l, Long()}, c.systemType);
    try {
      run.Go(Fields());
      ADD_FAILURE() << "no error";
    } catch (const mcparser::FloatingPointError& e) {
      EXPECT_STREQ(e.what(), "Floating point overflow");
    }
    EXPECT_EQ(run.host.calls, Walk(10, {{true, {20}}, {false, {}}}));
  }
}

TEST(Pass, FieldFaultEndsThePassBeforeAnyMark) {
  for (const PassInput& in : {PassInput{"1", "1E400", "5", "20"},
                              PassInput{"1", "50", "5", "1E400"},
                              PassInput{"0", "50", "1E400", "20"}}) {
    HostRun run({ShortDiagonal(), SmallArc()});
    EXPECT_THROW(run.Go(in), mcparser::FloatingPointError);
    EXPECT_EQ(run.host.calls, Head(10));
  }
}

}  // namespace
}  // namespace feed
