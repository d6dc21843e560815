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
// overflow"), or is not above 0. The pass evaluates the same texts again,
// with the same results.
bool MakePassInput(const BatchOptions& options, feed::PassInput& input, std::string& error);

}  // namespace batch

#endif  // BATCH_FIELDS_H_
