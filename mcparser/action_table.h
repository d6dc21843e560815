// The parse driver's action table: what to do in each state on each token.
#ifndef MCPARSER_ACTION_TABLE_H_
#define MCPARSER_ACTION_TABLE_H_

#include <array>
#include <cstdint>

#include "mcparser/token.h"

namespace mcparser {

struct Action {
  enum Kind : std::uint8_t { Error, Shift, Reduce, Accept };
  Kind kind = Error;
  std::uint8_t arg = 0;  // the state to shift to, or the production to reduce by
};

inline constexpr int kStateCount = 30;
// Rows padded to a power of two; the padding holds Error.
using ActionTable = std::array<std::array<Action, 16>, kStateCount>;
static_assert(kTokenCount <= 16);
extern const ActionTable kActionTable;

// The action for `state` and `token`; Error for states and tokens the table
// does not know.
inline Action ActionFor(std::uint8_t state, Token token) {
  const auto t = static_cast<std::uint16_t>(token);
  if (state >= kStateCount || t >= kTokenCount) return Action{};
  return kActionTable[state][t];
}

}  // namespace mcparser

#endif  // MCPARSER_ACTION_TABLE_H_
