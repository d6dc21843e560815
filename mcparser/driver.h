// The parse driver's shift step.
#ifndef MCPARSER_DRIVER_H_
#define MCPARSER_DRIVER_H_

#include <cstdint>

namespace mcparser {

// Writes `state` into the current entry, pushes it, then reads the next
// token into the current token.
void Shift(std::uint8_t state);

}  // namespace mcparser

#endif  // MCPARSER_DRIVER_H_
