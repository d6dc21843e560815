// Filling the 100-character input buffer from UTF-8 text.
#include <gtest/gtest.h>

#include <string>

#include "mcparser/input_buffer.h"

namespace mcparser {
namespace {

TEST(InputBufferTest, OneCharacterPerUnicodeCharacterOrIllFormedPiece) {
  const std::string X(1, kForeignChar);
  const struct {
    std::string utf8;
    std::string chars;
  } cases[] = {
      {"1+2", "1+2"},
      {"1\xC3\xA9" "2", "1" + X + "2"},               // é
      {"\xE2\x82\xAC", X},                             // €
      {"\xF0\x9F\x98\x80", X},                         // a four-byte character
      {"\xE2\x82" "1", X + "1"},                       // truncated sequence
      {"\xE2\x82", X},                                 // truncated at the end
      {"\xC0\xAF", X + X},                             // overlong
      {"\xE0\x80\xAF", X + X + X},                     // overlong
      {"\xED\xA0\x80", X + X + X},                     // surrogate
      {"\xF4\x90\x80\x80", X + X + X + X},             // beyond U+10FFFF
      {"\x80\xBF", X + X},                             // stray continuation bytes
      {"\xFF\xFE", X + X},
      {"\xC3(", X + "("},
      {"1234567\xC3\xA9", "1234567" + X},            // in the first eight bytes
      {"12345678\xC3\xA9", "12345678" + X},          // in the next eight
      {"1234567812345678\xE2\x82\xAC" "9", "1234567812345678" + X + "9"},
      {std::string("1\0" "2", 3), std::string("1\0" "2", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.utf8));
    InputBuffer b;
    b.Load(c.utf8);
    EXPECT_EQ(b.View(), c.chars);
  }
}

TEST(InputBufferTest, KeepsTheFirst100Characters) {
  const struct {
    std::string utf8;
    std::size_t size;
    char last;
  } cases[] = {
      {std::string(150, '1'), 100, '1'},
      {std::string(99, '1') + "\xC3\xA9" "2", 100, kForeignChar},
      {std::string(100, '1') + "\xC3\xA9", 100, '1'},
      {[] { std::string s; for (int i = 0; i < 120; ++i) s += "\xE2\x82\xAC"; return s; }(), 100,
       kForeignChar},
  };
  for (const auto& c : cases) {
    InputBuffer b;
    b.Load(c.utf8);
    EXPECT_EQ(b.Size(), c.size);
    EXPECT_EQ(b.At(b.Size() - 1), c.last);
  }
}

TEST(InputBufferTest, PushFrontDropsLastCharacterOnlyWhenFull) {
  InputBuffer b;
  b.LoadChars(std::string(99, '1') + "9");
  b.PushFront('0');
  EXPECT_EQ(b.View(), "0" + std::string(99, '1'));
  b.PushFront('0');  // no spare slot in front any more: the buffer moves
  EXPECT_EQ(b.View(), "00" + std::string(98, '1'));

  b.LoadChars("12");
  b.DropFront(1);
  b.PushFront('0');
  b.PushFront('0');
  EXPECT_EQ(b.View(), "002");
}

}  // namespace
}  // namespace mcparser
