// Finding text in the program's lines.
#ifndef REFHOST_EDITOR_FIND_H_
#define REFHOST_EDITOR_FIND_H_

#include <cstdint>
#include <string_view>

#include "refhost/core/document.h"

namespace refhost {

// The first line after `from` (before it when `forward` is false) whose text
// contains `needle`, ignoring ASCII letter case, wrapping around the end;
// `from` itself is checked last. 0 when no line holds it or `needle` is empty.
std::int64_t FindLine(const Document& document, std::int64_t from, std::string_view needle,
                      bool forward = true);

}  // namespace refhost

#endif  // REFHOST_EDITOR_FIND_H_
