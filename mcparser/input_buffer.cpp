#include "mcparser/input_buffer.h"

#include <cstdint>
#include <cstring>

namespace mcparser {

namespace {

// Length of the maximal prefix of `s` (non-empty, s[0] >= 0x80) that is
// either one well-formed UTF-8 sequence or a maximal ill-formed part of one.
std::size_t NonAsciiLength(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 1;  // a stray continuation byte or a byte never used in UTF-8
  }
  std::size_t n = 1;
  while (n < need && n < s.size()) {
    const auto b = static_cast<unsigned char>(s[n]);
    const bool ok = n == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!ok) break;
    ++n;
  }
  return n;
}

// True when none of the n bytes at p is outside ASCII.
bool AllAscii(const char* p, std::size_t n) {
  std::uint64_t seen = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    seen |= word;
  }
  for (; i < n; ++i) seen |= static_cast<unsigned char>(p[i]);
  return (seen & 0x8080808080808080u) == 0;
}

}  // namespace

void InputBuffer::Load(std::string_view utf8) {
  const std::size_t prefix = utf8.size() < kCapacity ? utf8.size() : kCapacity;
  if (AllAscii(utf8.data(), prefix)) {  // one byte a character
    LoadChars(utf8.substr(0, prefix));
    return;
  }
  begin_ = end_ = 1;
  std::size_t i = 0;
  while (i < utf8.size() && Size() < kCapacity) {
    const char c = utf8[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      data_[end_++] = c;
      ++i;
    } else {
      data_[end_++] = kForeignChar;
      i += NonAsciiLength(utf8.substr(i));
    }
  }
}

void InputBuffer::LoadChars(std::string_view chars) {
  const std::size_t n = chars.size() < kCapacity ? chars.size() : kCapacity;
  if (n > 0) std::memcpy(data_ + 1, chars.data(), n);
  begin_ = 1;
  end_ = 1 + n;
}

void InputBuffer::PushFront(char c) {
  if (Size() == kCapacity) --end_;
  if (begin_ == 0) {
    std::memmove(data_ + 1, data_, end_);
    begin_ = 1;
    ++end_;
  }
  data_[--begin_] = c;
}

}  // namespace mcparser
