// Where the lines of an adjusted program go, in order, as the pass finishes
// with them.
#ifndef BATCH_LINE_SINK_H_
#define BATCH_LINE_SINK_H_

#include <cstdint>
#include <string_view>

namespace batch {

class LineSink {
 public:
  virtual ~LineSink() = default;
  // Line `line` (from 1, each once, ascending) as it leaves the pass;
  // `changed` when the pass rewrote it (`original` is the text before).
  virtual void Put(std::int64_t line, std::string_view text, bool changed,
                   std::string_view original) = 0;
};

}  // namespace batch

#endif  // BATCH_LINE_SINK_H_
