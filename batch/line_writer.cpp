#include "batch/line_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace batch {

using refhost::files::WriteAll;

LineEndings::LineEndings(std::string_view text) {
  const LineEnding common = DetectLineEnding(text);
  first_ = common.eol == "\n" ? kLf : common.eol == "\r\n" ? kCrLf : kCr;
  final_break_ = common.final_break;
  if (text.empty()) {
    final_break_ = false;  // one empty line, written as nothing
    return;
  }
  std::int64_t breaks = 0;
  if (first_ == kLf && text.find('\r') == std::string_view::npos) {
    // The common case: LF only, counted fast.
    breaks = std::count(text.begin(), text.end(), '\n');
  } else {
    for (std::size_t at = text.find_first_of("\r\n"); at != std::string_view::npos;
         at = text.find_first_of("\r\n", at)) {
      Kind kind = kLf;
      if (text[at] == '\r') {
        kind = at + 1 < text.size() && text[at + 1] == '\n' ? kCrLf : kCr;
      }
      ++breaks;
      if (kind != first_) others_.emplace_back(breaks, kind);
      at += kind == kCrLf ? 2 : 1;
    }
  }
  lines_ = final_break_ ? breaks : breaks + 1;
}

std::string_view LineEndings::Text(Kind kind) {
  return kind == kLf ? "\n" : kind == kCrLf ? "\r\n" : "\r";
}

std::string_view LineEndings::Of(std::int64_t line) const {
  if (line >= lines_ && !final_break_) return "";
  if (others_.empty()) return Text(first_);
  if (cursor_ > 0 && others_[cursor_ - 1].first >= line) {
    cursor_ = 0;  // not ascending: from the start
  }
  while (cursor_ < others_.size() && others_[cursor_].first < line) ++cursor_;
  if (cursor_ < others_.size() && others_[cursor_].first == line) return Text(others_[cursor_].second);
  return Text(first_);
}

LineWriter::LineWriter(int fd, const LineEndings& endings) : fd_(fd), endings_(endings) {
  buffer_.reserve(kBufferSize);
}

void LineWriter::Put(std::int64_t line, std::string_view text, bool, std::string_view) {
  Append(text);
  Append(endings_.Of(line));
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
  if (errno_ != 0) error = Cause(errno_);
  return errno_ == 0;
}

}  // namespace batch
