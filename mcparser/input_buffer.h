// The scanner's input buffer: at most 100 eight-bit characters, consumed
// from the front.
#ifndef MCPARSER_INPUT_BUFFER_H_
#define MCPARSER_INPUT_BUFFER_H_

#include <cstddef>
#include <string_view>

namespace mcparser {

// Byte that stands for a character outside ASCII (or a piece of invalid
// UTF-8); the scanner reads it as a bad character.
inline constexpr char kForeignChar = '\x80';

class InputBuffer {
 public:
  static constexpr std::size_t kCapacity = 100;

  // Fills the buffer with the first kCapacity characters of the UTF-8 text,
  // one byte a character: ASCII as itself, anything else as kForeignChar.
  // A maximal ill-formed subsequence of UTF-8 counts as one character.
  void Load(std::string_view utf8);
  // Fills the buffer with the first kCapacity bytes of `chars` as they are.
  void LoadChars(std::string_view chars);

  bool Empty() const { return begin_ == end_; }
  std::size_t Size() const { return end_ - begin_; }
  // Requires i < Size().
  char At(std::size_t i) const { return data_[begin_ + i]; }
  char Front() const { return data_[begin_]; }
  std::string_view View() const { return {data_ + begin_, Size()}; }

  // Requires n <= Size().
  void DropFront(std::size_t n) { begin_ += n; }
  // Puts c in front; a full buffer loses its last character.
  void PushFront(char c);

 private:
  // One spare slot in front so that PushFront rarely has to move anything.
  char data_[kCapacity + 1] = {};
  std::size_t begin_ = 1;
  std::size_t end_ = 1;
};

}  // namespace mcparser

#endif  // MCPARSER_INPUT_BUFFER_H_
