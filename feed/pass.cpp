#include "feed/pass.h"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>

#include "feed/geometry.h"
#include "mcparser/fpfault.h"
#include "mcparser/mcparser.h"

namespace feed {

namespace {

using hostlink::ArgForm;
using hostlink::HostOperations;

// System type whose lathe programs are measured in the X-Z plane.
constexpr std::int32_t kLatheSystemType = 304;

// CurrentBlock indices, in the order the walk reads them.
constexpr std::int32_t kP1X = 4, kP1Y = 5, kP1Z = 6;
constexpr std::int32_t kP2X = 7, kP2Y = 8, kP2Z = 9;
constexpr std::int32_t kFeedInForce = 19;
constexpr std::int32_t kMotionCode = 1;
constexpr std::int32_t kArcRadius = 23;
// The reads every line gets, in their order; they travel with its step.
constexpr std::int32_t kLineReads[] = {kP1X, kP1Y, kP1Z, kP2X, kP2Y, kP2Z, kFeedInForce, kMotionCode};

constexpr int kRapid = 0, kLinear = 1, kArcCW = 2, kArcCCW = 3;

// The four field values, read once per pass.
struct Thresholds {
  double lineLength;
  double lineFeed;
  double arcRadius;
  double arcFeed;
};

// One CurrentBlock value. A NaN or infinity would make every decision
// below meaningless, so it ends the pass here, before anything else is sent.
double ReadBlock(HostOperations& host, std::int32_t index) {
  const double v = host.CurrentBlock(index);
  if (!std::isfinite(v)) {
    throw mcparser::FloatingPointError(mcparser::kInvalidOperationText);
  }
  return v;
}

// The motion code a line names: its value truncated toward zero, when that
// is 0..3. Anything else (including values far outside int range) names none.
std::optional<int> MotionCodeOf(double value) {
  const double t = std::trunc(value);
  if (t >= kRapid && t <= kArcCCW) return static_cast<int>(t);
  return std::nullopt;
}

// Runs `measure` with the floating-point flags watched, so that coordinates
// large enough to overflow end the pass instead of giving a silent infinity.
template <typename F>
void Checked(F measure) {
  std::feclearexcept(FE_ALL_EXCEPT);
  measure();
  const int raised = std::fetestexcept(FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID);
  if (raised & FE_OVERFLOW) throw mcparser::FloatingPointError(mcparser::kOverflowText);
  if (raised & FE_DIVBYZERO) throw mcparser::FloatingPointError(mcparser::kDivideByZeroText);
  if (raised & FE_INVALID) throw mcparser::FloatingPointError(mcparser::kInvalidOperationText);
}

class Pass {
 public:
  Pass(HostOperations& host, const PassInput& input) : host_(host), input_(input) {}

  void Run(const std::function<void(const std::string&)>& myMessage) {
    runOpen_ = false;
    const std::int32_t systemType = host_.SystemType();
    const std::int32_t first = host_.StartSelection();
    const std::int32_t last = host_.EndSelection();
    host_.selectline(first, ArgForm::ByReference);

    // The host reports no selection as first == last.
    if (first == last) {
      myMessage("No Lines in Norvane Selected");
      return;
    }

    thresholds_.lineLength = mcparser::FieldValue(input_.edt1);
    thresholds_.lineFeed = mcparser::FieldValue(input_.edt3);
    thresholds_.arcRadius = mcparser::FieldValue(input_.edt2);
    thresholds_.arcFeed = mcparser::FieldValue(input_.edt4);
    // Without a line limit and a line feedrate there is nothing to do.
    if (!(thresholds_.lineLength > 0) || !(thresholds_.lineFeed > 0)) return;

    host_.markline(0, 0, ArgForm::ByReference);

    // Last below first visits nothing. 64-bit so that a selection ending at
    // the largest line number ends.
    for (std::int64_t line = first; line <= last; ++line) {
      VisitLine(line, systemType == kLatheSystemType);
    }
    host_.Settle();  // the last write's mark and selection
    // A run that reaches the last line stays open: nothing after it is written.
  }

 private:
  void VisitLine(std::int64_t line, bool latheMeasure) {
    bool diagonal = false;
    // The step and the reads wait for nothing; the first read collects them.
    host_.stepDeferred();
    host_.AnnounceReads(kLineReads, std::size(kLineReads));
    TPoint3D p1, p2;
    p1.X = ReadBlock(host_, kP1X);
    p1.Y = ReadBlock(host_, kP1Y);
    p1.Z = ReadBlock(host_, kP1Z);
    p2.X = ReadBlock(host_, kP2X);
    p2.Y = ReadBlock(host_, kP2Y);
    p2.Z = ReadBlock(host_, kP2Z);
    const double feedInForce = ReadBlock(host_, kFeedInForce);
    const double codeValue = ReadBlock(host_, kMotionCode);

    // A line without a valid code of its own moves as the last one that had.
    if (const auto code = MotionCodeOf(codeValue)) codeInForce_ = code;
    const bool isLinear = codeInForce_ == kLinear;
    const bool isArc = codeInForce_ == kArcCW || codeInForce_ == kArcCCW;

    // Measure: linear moves by length and direction, arcs by radius.
    double length = 0;
    double radius = 0;
    if (isLinear) {
      Checked([&] {
        double angle;
        if (latheMeasure) {  // lathe: X-Z plane, bounded per axis
          length = Distance2D(p1.X, p1.Z, p2.X, p2.Z);
          angle = DirectionAngle(p1.X, p1.Z, p2.X, p2.Z);
        } else {
          length = Distance3D(p1, p2);
          angle = DirectionAngle(p1.X, p1.Y, p2.X, p2.Y);
        }
        diagonal = IsNear45(angle);
      });
    } else if (isArc) {
      radius = ReadBlock(host_, kArcRadius);
    }

    // Arc decision: a small arc gets the arc feedrate and opens (or extends)
    // a run; any other line closes an open run with its own feedrate.
    const bool smallArc = isArc && radius > 0 && radius < thresholds_.arcRadius &&
                          thresholds_.arcFeed > 0 && feedInForce != thresholds_.arcFeed;
    if (smallArc) {
      WriteFeed(line, thresholds_.arcFeed);
      runOpen_ = true;
    } else if (runOpen_) {
      runOpen_ = false;
      WriteFeed(line, feedInForce);
    }

    // Line decision: a short linear move gets the line feedrate, unless only
    // diagonals are wanted and this move is not one.
    const bool shortLine = isLinear && length > 0 && length < thresholds_.lineLength &&
                           thresholds_.lineFeed > 0 && feedInForce != thresholds_.lineFeed;
    if (shortLine && (!input_.chk1 || diagonal)) {
      WriteFeed(line, thresholds_.lineFeed);
      runOpen_ = true;
    }
  }

  // Puts "F `feed`" on `line`, marks it, and moves the host past it. A line
  // with no number after it cannot be left that way; the write is refused
  // before any of its calls rather than sending a wrapped line number.
  void WriteFeed(std::int64_t line, double feed) {
    if (line >= std::numeric_limits<std::int32_t>::max()) {
      throw std::overflow_error("Integer overflow");
    }
    const auto l = static_cast<std::int32_t>(line);
    host_.selectline(l, ArgForm::ByValue);
    host_.add("F", feed);
    // Nothing later needs these two answered before the next line's reads.
    host_.marklineDeferred(l, 1, ArgForm::ByValue);
    host_.selectlineDeferred(l + 1, ArgForm::ByValue);
  }

  HostOperations& host_;
  const PassInput& input_;
  Thresholds thresholds_{};
  std::optional<int> codeInForce_;  // none until a line names one
  bool runOpen_ = false;
};

}  // namespace

void RunPass(hostlink::HostOperations& host, const PassInput& input,
             const std::function<void(const std::string&)>& myMessage) {
  Pass(host, input).Run(myMessage);
}

}  // namespace feed
