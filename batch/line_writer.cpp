#include "batch/line_writer.h"

#include <cerrno>
#include <cstring>

namespace batch {

using refhost::files::WriteAll;

LineWriter::LineWriter(int fd, const LineEnding& ending, std::int64_t count)
    : fd_(fd), ending_(ending), count_(count) {
  buffer_.reserve(kBufferSize);
}

void LineWriter::Put(std::int64_t line, std::string_view text, bool, std::string_view) {
  Append(text);
  // The editor keeps a missing final break missing.
  if (line < count_ || ending_.final_break) Append(ending_.eol);
}

void LineWriter::Append(std::string_view bytes) {
  if (buffer_.size() + bytes.size() > kBufferSize) Drain();
  if (bytes.size() > kBufferSize) {
    if (errno_ == 0 && !WriteAll(fd_, bytes)) errno_ = errno;
    return;
  }
  buffer_.append(bytes);
}

void LineWriter::Drain() {
  if (errno_ == 0 && !WriteAll(fd_, buffer_)) errno_ = errno;
  buffer_.clear();
}

bool LineWriter::Finish(std::string& error) {
  Drain();
  if (errno_ != 0) error = std::strerror(errno_);
  return errno_ == 0;
}

}  // namespace batch
