// Reading one NC line (a block) as the controller reads it, into its items:
// block delete, line number, an O-word, words with their values, parameter
// settings and comments, each with its place in the text.
//
// Syntax (the rs274ngc dialect):
// - Blanks and tabs mean nothing outside comments: "X 1 0" is X10, "G 1"
//   is G1, "F 1 0 0" is F100. Letters are read in either case.
// - A leading "%" makes a delimiter line (nothing else on it is read); a
//   leading "/" marks block delete; "N" with a number may follow.
// - A word is a letter and a value: a number ("53.", "-.5"), "[expr]", a
//   parameter ("#1", "##2", "#[#1+1]", "#<name>"), a function ("SIN[30]",
//   "ATAN[1]/[2]") or a signed one of those ("-#1").
// - A parameter setting is "#index = value" or "#<name> = value".
// - An O-word line is "o<number>|o<name>|o[expr] keyword [args]" and holds
//   nothing else but comments; without a keyword it numbers a program.
// - "( )" comments may stand between items (not inside one); ";" ends the
//   line's items.
//
// Contracts: ReadBlock never throws. A line it cannot read gets a non-empty
// `error` (what is wrong, in the controller's terms); the other fields then
// hold what was read before the fault.
#ifndef REFHOST_CORE_BLOCK_READER_H_
#define REFHOST_CORE_BLOCK_READER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "refhost/core/expression.h"

namespace refhost {

struct ParsedWord {
  char letter = 0;            // 'A'..'Z'
  Value value;
  std::uint32_t begin = 0;    // the letter
  std::uint32_t end = 0;      // one past the value's last character
};

struct Setting {
  bool named = false;
  Value index;                // numbered: the index
  std::uint32_t name = 0, name_len = 0;  // named: in ParsedBlock::names
  Value value;
};

enum class OKind : std::uint8_t {
  kNone, kProgram, kSub, kEndsub, kCall, kReturn, kIf, kElseif, kElse, kEndif,
  kWhile, kEndwhile, kDo, kRepeat, kEndrepeat, kBreak, kContinue,
};

struct OWord {
  OKind kind = OKind::kNone;
  std::string label;    // "100" (no leading zeros) or "<name>"; empty when indirect
  bool indirect = false;
  Value label_value;    // when indirect
  // call: the arguments; if, elseif, while, repeat: the condition or count;
  // return, endsub: the value, when given.
  std::vector<Value> args;
};

struct ParsedBlock {
  bool percent = false;        // a "%" line
  bool block_delete = false;   // a leading "/"
  bool has_n = false;
  double n = 0.0;
  bool has_o = false;
  OWord o;
  std::vector<ParsedWord> words;
  std::vector<Setting> settings;
  std::vector<Instr> code;     // the code of every non-constant value
  std::string names;           // parameter names, lower case, no blanks
  std::uint32_t content_begin = 0;  // past leading blanks, "/" and the N word
  std::uint32_t words_end = 0;      // past the last word or setting (0: none)
  std::string error;           // empty when the line reads

  void Clear();
  bool HasWords() const { return !words.empty(); }
  const ParsedWord* Find(char letter) const;  // the first word of `letter`
  std::string_view Name(const Setting& s) const { return std::string_view(names).substr(s.name, s.name_len); }
};

// Reads `text` (one line, no line break) into `block`, reusing its storage.
void ReadBlock(std::string_view text, ParsedBlock& block);

// The keyword as written in programs ("sub", "endsub", ...).
const char* OKeyword(OKind kind);

}  // namespace refhost

#endif  // REFHOST_CORE_BLOCK_READER_H_
