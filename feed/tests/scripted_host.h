// A host editor in the test's own process: it serves a table of lines and
// records every call made on it, for tests of anything that drives the host.
#ifndef FEED_TESTS_SCRIPTED_HOST_H_
#define FEED_TESTS_SCRIPTED_HOST_H_

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "feed/geometry.h"
#include "hostlink/host_error.h"
#include "hostlink/operations.h"

namespace feed::testing {

// One line as the host's block interpreter describes it after its step.
struct ScriptedLine {
  double code = 1;         // CurrentBlock(1)
  TPoint3D p1{0, 0, 0};    // CurrentBlock(4..6)
  TPoint3D p2{0, 0, 0};    // CurrentBlock(7..9)
  double feed = 100;       // CurrentBlock(19)
  double radius = 0;       // CurrentBlock(23)
  std::map<std::int32_t, double> other;  // any index, overriding the above
};

// Serves lines[k] after the (k+1)-th step; a step past the table fails like
// a host refusing a line beyond its document. Calls are recorded as
// "SystemType()", "selectline(5,ref)", "markline(5,1,val)", "step()",
// "CurrentBlock(4)", "add(F,200)" (values in shortest round-trip form).
class ScriptedHost : public hostlink::HostOperations {
 public:
  std::int32_t systemType = 0;
  std::int32_t start = 10;
  std::int32_t end = 10;
  std::vector<ScriptedLine> lines;

  // When set, the call with this 1-based number is recorded and then fails
  // with HostError(failText).
  std::optional<std::size_t> failAtCall;
  std::string failText = "The host refused the call";

  // Off, calls are counted but not recorded (for benchmarks).
  bool recording = true;

  std::vector<std::string> calls;
  std::size_t callCount = 0;

  std::int32_t SystemType() override {
    Called("SystemType()");
    return systemType;
  }
  std::int32_t StartSelection() override {
    Called("StartSelection()");
    return start;
  }
  std::int32_t EndSelection() override {
    Called("EndSelection()");
    return end;
  }
  void selectline(std::int32_t line, hostlink::ArgForm form) override {
    if (recording) Called("selectline(" + std::to_string(line) + "," + Form(form) + ")");
    else Called({});
  }
  void markline(std::int32_t line, std::int32_t mark, hostlink::ArgForm lineForm) override {
    if (recording) {
      Called("markline(" + std::to_string(line) + "," + std::to_string(mark) + "," +
             Form(lineForm) + ")");
    } else {
      Called({});
    }
  }
  void step() override {
    Called("step()");
    if (steps_ >= lines.size()) throw hostlink::HostError("Line beyond the end of the program");
    ++steps_;
  }
  double CurrentBlock(std::int32_t index) override {
    if (recording) Called("CurrentBlock(" + std::to_string(index) + ")");
    else Called({});
    if (steps_ == 0) return 0;
    const ScriptedLine& l = lines[steps_ - 1];
    if (auto it = l.other.find(index); it != l.other.end()) return it->second;
    switch (index) {
      case 1: return l.code;
      case 4: return l.p1.X;
      case 5: return l.p1.Y;
      case 6: return l.p1.Z;
      case 7: return l.p2.X;
      case 8: return l.p2.Y;
      case 9: return l.p2.Z;
      case 19: return l.feed;
      case 23: return l.radius;
      default: return 0;
    }
  }
  void add(const std::string& letter, double value) override {
    if (recording) Called("add(" + letter + "," + Number(value) + ")");
    else Called({});
  }

  static std::string Number(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
  }

 private:
  static const char* Form(hostlink::ArgForm f) {
    return f == hostlink::ArgForm::ByReference ? "ref" : "val";
  }
  void Called(std::string call) {
    ++callCount;
    if (recording) calls.push_back(std::move(call));
    if (failAtCall && callCount == *failAtCall) throw hostlink::HostError(failText);
  }

  std::size_t steps_ = 0;
};

}  // namespace feed::testing

#endif  // FEED_TESTS_SCRIPTED_HOST_H_
