// Lines to a file descriptor, each with the break it had when read.
#ifndef BATCH_LINE_WRITER_H_
#define BATCH_LINE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "batch/line_sink.h"
#include "batch/program_file.h"

namespace batch {

// Each line's own break as read, for the lines of `text` as Document::Load
// splits them (at LF, CR LF or CR; a final break opens no empty last line).
// Kept compactly: the file's first break, and the lines whose break differs.
class LineEndings {
 public:
  explicit LineEndings(std::string_view text);
  // The break after line `line` (from 1): "\n", "\r\n", "\r", or "" for the
  // last line of a text without a final break. Cheapest asked in ascending
  // order.
  std::string_view Of(std::int64_t line) const;
  std::int64_t lines() const { return lines_; }
  // True when every break is the first one.
  bool uniform() const { return others_.empty(); }

 private:
  enum Kind : std::uint8_t { kLf, kCrLf, kCr };
  static std::string_view Text(Kind kind);

  Kind first_ = kLf;
  bool final_break_ = true;
  std::int64_t lines_ = 1;
  std::vector<std::pair<std::int64_t, Kind>> others_;  // ascending by line
  mutable std::size_t cursor_ = 0;
};

// Writes the lines put to it to a descriptor, each ended as `endings` says.
// Errors are kept for Finish().
class LineWriter : public LineSink {
 public:
  LineWriter(int fd, const LineEndings& endings);
  void Put(std::int64_t line, std::string_view text, bool changed,
           std::string_view original) override;
  // Writes out what is buffered. False with `error` set when any write failed.
  bool Finish(std::string& error);

 private:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

  void Append(std::string_view bytes);
  void Drain();

  int fd_;
  const LineEndings& endings_;
  std::string buffer_;
  int errno_ = 0;
};

}  // namespace batch

#endif  // BATCH_LINE_WRITER_H_
