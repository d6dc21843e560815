// The feed adjustment pass: what the Adjust button runs.
#ifndef FEED_PASS_H_
#define FEED_PASS_H_

#include <functional>
#include <string>

#include "hostlink/operations.h"

namespace feed {

// The window's inputs, read once per pass.
struct PassInput {
  std::string edt1;   // line length threshold
  std::string edt3;   // line feedrate
  std::string edt2;   // arc radius threshold
  std::string edt4;   // arc feedrate
  bool chk1 = true;   // only near-diagonal lines
};

// Runs one pass over the host's selection. `myMessage` shows the one message
// of the pass ("No Lines in Norvane Selected"). Host failures and
// floating-point faults propagate to the caller unchanged; what was written to
// the host before them stays.
//
// The pass also ends, at that point and sending nothing more, when:
// - the host gives a NaN or infinite block value (FloatingPointError
//   "Invalid floating point operation", thrown at the read);
// - a move's coordinates overflow its measure (FloatingPointError
//   "Floating point overflow");
// - a line numbered INT32_MAX is to be written, which leaves no next line to
//   select (std::overflow_error "Integer overflow", before the write).
// A motion code outside 0..3, however large, names no code.
void RunPass(hostlink::HostOperations& host, const PassInput& input,
             const std::function<void(const std::string&)>& myMessage);

}  // namespace feed

#endif  // FEED_PASS_H_
