// Lines to a file descriptor, joined the way the editor saves them.
#ifndef BATCH_LINE_WRITER_H_
#define BATCH_LINE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "batch/line_sink.h"
#include "batch/program_file.h"

namespace batch {

// Writes the lines put to it to a descriptor, joined and ended by `ending`
// as the editor saves them (the last of `count` lines without a break when
// the file had none). Errors are kept for Finish().
class LineWriter : public LineSink {
 public:
  LineWriter(int fd, const LineEnding& ending, std::int64_t count);
  void Put(std::int64_t line, std::string_view text, bool changed,
           std::string_view original) override;
  // Writes out what is buffered. False with `error` set when any write failed.
  bool Finish(std::string& error);

 private:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

  void Append(std::string_view bytes);
  void Drain();

  int fd_;
  LineEnding ending_;
  std::int64_t count_;
  std::string buffer_;
  int errno_ = 0;
};

}  // namespace batch

#endif  // BATCH_LINE_WRITER_H_
