// The four fields of the command line, checked before any file is touched.
#ifndef BATCH_FIELDS_H_
#define BATCH_FIELDS_H_

#include <string>

#include "batch/options.h"
#include "feed/pass.h"

namespace batch {

// The letter rule of the window's fields: "a" to "z" become "A" to "Z" (as
// typed there); every other byte stays.
std::string AsTyped(std::string text);

// The pass input for `options`: the field texts as typed, "Only on 45 Deg."
// ticked unless --all-directions. False with `error` set when a given field
// is not an expression, cannot be computed, faults ("Floating point
// overflow"), or is not above 0, and when a feed field's F word would read
// F0 or its value is too large for a word (Automation::kMaxValue). The pass
// evaluates the same texts again, with the same results.
bool MakePassInput(const BatchOptions& options, feed::PassInput& input, std::string& error);

// The four values the pass will use, in words, for an `input` that
// MakePassInput accepted: "lines shorter than 0.5 get F320 (near-diagonal
// only); arcs smaller than R2 get F300" (without `arcs`: "arcs stay as they
// are").
std::string SettingsLine(const feed::PassInput& input, bool arcs);

}  // namespace batch

#endif  // BATCH_FIELDS_H_
