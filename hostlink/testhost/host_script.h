// The test host's configuration: its document, its answers and its faults,
// read from directives (see README.md).
#ifndef HOSTLINK_TESTHOST_HOST_SCRIPT_H_
#define HOSTLINK_TESTHOST_HOST_SCRIPT_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testhost {

struct Line {
  double motion = 1;
  double p1[3] = {0, 0, 0};
  double p2[3] = {0, 0, 0};
  double feed = 0;
  double radius = 0;
};

// A fault or a forced answer for one member, optionally one index of
// CurrentBlock, optionally only its n-th call (counted per member name).
struct Rule {
  enum class Kind { Value, Error, Hang };
  Kind kind = Kind::Value;
  std::string member;
  std::optional<std::int32_t> index;
  std::optional<std::int64_t> nth;
  std::string type;   // Value: the type token ("d", "vvs", "none", "null", ...)
  std::string value;  // Value: the value text; Error: the message
  std::string errorName;
};

struct HostScript {
  std::int32_t systemType = 0;
  std::optional<std::int32_t> selectionStart, selectionEnd;  // default 1..lines
  std::vector<Line> lines;
  bool queryMethods = true;
  bool queryProperties = true;
  bool beyondIsError = true;
  std::optional<std::int64_t> quitAfter;
  std::string recordPath;
  std::optional<std::string> directAddress;  // what Editor.DirectAddress answers
  std::vector<Rule> rules;

  std::int32_t StartSelection() const;
  std::int32_t EndSelection() const;
};

// Applies one directive to `script`. Returns an empty string, or what is
// wrong with the directive.
std::string ApplyDirective(const std::string& directive, HostScript* script);

// The built-in demo program: short diagonal moves, small arcs and long moves.
void AddDemo(HostScript* script);

// Appends `count` chained diagonal moves of `length` at `feed`.
void AddDiagonals(HostScript* script, std::int64_t count, double length, double feed);

// Resolves \t \n \r \\ \xHH escapes.
std::string Unescape(const std::string& text);

}  // namespace testhost

#endif  // HOSTLINK_TESTHOST_HOST_SCRIPT_H_
