#include "mcparser/action_table.h"

#include <array>
#include <initializer_list>

namespace mcparser {

namespace {

using T = Token;

constexpr Action kError{};
constexpr Action kAccept{Action::Accept, 0};
constexpr Action S(std::uint8_t state) { return {Action::Shift, state}; }
constexpr Action R(std::uint8_t production) { return {Action::Reduce, production}; }

struct Named {
  Token token;
  Action action;
};

struct Row {
  std::uint8_t state;
  std::initializer_list<Named> named;
  Action other;  // for every token not named
};

constexpr ActionTable MakeTable(std::initializer_list<Row> rows) {
  ActionTable t{};
  for (const Row& r : rows) {
    for (int token = 0; token < kTokenCount; ++token) t[r.state][token] = r.other;
    for (const Named& n : r.named) t[r.state][static_cast<int>(n.token)] = n.action;
  }
  return t;
}

// What may begin an operand.
constexpr std::initializer_list<Named> kOperandStart = {
    {T::Number, S(10)}, {T::FunctionName, S(11)}, {T::Minus, S(5)}, {T::LeftParen, S(9)}};

}  // namespace

constexpr ActionTable kActionTable = MakeTable({
    {0, kOperandStart, kError},
    {1, {{T::EndOfInput, kAccept}, {T::Plus, S(12)}, {T::Minus, S(13)}}, kError},
    {2, {{T::Times, S(14)}, {T::Divide, S(15)}}, R(3)},
    {3, {}, R(6)},
    {4, {{T::Power, S(16)}}, R(8)},
    {5, {{T::Number, S(10)}, {T::FunctionName, S(11)}, {T::LeftParen, S(9)}}, kError},
    {6, {}, R(10)},
    {8, {}, R(12)},
    {9, kOperandStart, kError},
    {10, {}, R(15)},
    {11, {{T::LeftParen, S(20)}}, kError},
    {12, kOperandStart, kError},
    {13, kOperandStart, kError},
    {14, kOperandStart, kError},
    {15, kOperandStart, kError},
    {16, kOperandStart, kError},
    {17, {}, R(9)},
    {19, {{T::Plus, S(12)}, {T::Minus, S(13)}, {T::RightParen, S(27)}}, kError},
    {20, kOperandStart, kError},
    {21, {{T::Times, S(14)}, {T::Divide, S(15)}}, R(1)},
    {22, {{T::Times, S(14)}, {T::Divide, S(15)}}, R(2)},
    {23, {}, R(4)},
    {24, {}, R(5)},
    {25, {}, R(7)},
    {27, {}, R(14)},
    {28, {{T::Plus, S(12)}, {T::Minus, S(13)}, {T::RightParen, S(29)}}, kError},
    {29, {}, R(16)},
});

}  // namespace mcparser
