// One entry of the parse stack.
#ifndef MCPARSER_STACK_ENTRY_H_
#define MCPARSER_STACK_ENTRY_H_

#include <cstddef>
#include <cstdint>

#include "mcparser/entry_value.h"

namespace mcparser {

struct StackEntry {
  std::uint8_t state = 0;  // 0 to 29
  EntryValue value;        // unread for operators and parentheses
};

inline constexpr std::size_t kStackCapacity = 20;

}  // namespace mcparser

#endif  // MCPARSER_STACK_ENTRY_H_
