// The encoding of member calls on one particular bus (D-Bus, COM, a double).
#ifndef HOSTLINK_TRANSPORT_H_
#define HOSTLINK_TRANSPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "hostlink/host_value.h"
#include "hostlink/operations.h"

namespace hostlink {

// One argument of a method call.
struct Argument {
  enum class Type { Int32, Real, Text };
  Type type = Type::Int32;
  std::int32_t int32 = 0;
  ArgForm form = ArgForm::ByValue;  // Int32 and Real: how the encoding passes it
  double real = 0.0;
  std::string text;

  static Argument Int(std::int32_t v, ArgForm f = ArgForm::ByValue) {
    Argument a;
    a.type = Type::Int32;
    a.int32 = v;
    a.form = f;
    return a;
  }
  static Argument Double(double v, ArgForm f = ArgForm::ByValue) {
    Argument a;
    a.type = Type::Real;
    a.real = v;
    a.form = f;
    return a;
  }
  static Argument Text(std::string v) {
    Argument a;
    a.type = Type::Text;
    a.text = std::move(v);
    return a;
  }
};

// Every call reaches the one host the transport was made for, waits for its
// answer and throws HostError with the text the user is shown when it fails:
// "Method '<member>' not supported by automation object" for an unknown
// member, the host's own description (trailing blanks, control characters and
// periods cut off) for an error the host raises, the system's text otherwise.
// Nothing is retried and nothing is cached.
class Transport {
 public:
  virtual ~Transport() = default;

  // A call without arguments that asks for a result; the host may serve
  // `member` as a method or as a read-only property.
  virtual HostValue Query(const std::string& member) = 0;

  // A method call; its result, if any, is not asked for.
  virtual void Call(const std::string& member, const std::vector<Argument>& args) = 0;

  // A read of the indexed property `member`[index].
  virtual HostValue GetIndexed(const std::string& member, std::int32_t index) = 0;

  // The number format that text results are read with.
  virtual NumberFormat Format() const = 0;

  // Sending without waiting, for encodings that can (D-Bus). Post() sends a
  // method call (an indexed read is the call `member`(index)) and returns at
  // once; Next() waits for the answer of the oldest call posted and not yet
  // collected and returns its value or throws its HostError; Abandon() drops
  // every answer not yet collected. Answers come back in posting order. An
  // encoding that cannot returns false from CanPost() and is never posted to.
  virtual bool CanPost() const { return false; }
  virtual void Post(const std::string& member, const std::vector<Argument>& args);
  virtual HostValue Next();
  virtual void Abandon() {}
};

// Cuts trailing blanks, control characters and periods off a host's error
// description.
std::string TrimHostText(const std::string& text);

// The text of a member the host does not know:
// "Method '<member>' not supported by automation object".
std::string UnknownMemberText(const std::string& member);

}  // namespace hostlink

#endif  // HOSTLINK_TRANSPORT_H_
