// The parse stack: at most 20 entries of a state and a value.
#ifndef MCPARSER_PARSE_STACK_H_
#define MCPARSER_PARSE_STACK_H_

#include <cstddef>
#include <cstdint>

#include "mcparser/entry_value.h"

namespace mcparser {

struct StackEntry {
  std::uint8_t state = 0;  // 0 to 29
  EntryValue value;        // unread for operators and parentheses
};

inline constexpr std::size_t kStackCapacity = 20;

// The functions below work on the module's one evaluator state.

// Empties the stack.
void ClearStack();
// Adds `entry` on top; when kStackCapacity entries are held, sets the syntax
// error flag instead and stores nothing.
void Push(const StackEntry& entry);
// Removes and returns the entry on top. On an empty stack (never reached by
// the grammar) sets the syntax error flag and returns an entry of state 0.
StackEntry Pop();
// The entry on top; requires a non-empty stack.
const StackEntry& Top();
// The number of entries held.
std::size_t StackSize();

}  // namespace mcparser

#endif  // MCPARSER_PARSE_STACK_H_
