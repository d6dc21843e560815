#include "refhost/core/block_reader.h"

#include <charconv>
#include <cstring>

#include "refhost/core/gcode_error.h"

namespace refhost {

namespace {

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c; }
constexpr bool IsLetter(char c) { return c >= 'a' && c <= 'z'; }

// Binary operators with their precedence (higher binds tighter).
struct BinaryOp {
  const char* name;
  Instr::Op op;
  int precedence;
};
constexpr BinaryOp kWordOps[] = {
    {"mod", Instr::kMod, 4}, {"eq", Instr::kEq, 2}, {"ne", Instr::kNe, 2}, {"gt", Instr::kGt, 2},
    {"ge", Instr::kGe, 2},   {"lt", Instr::kLt, 2}, {"le", Instr::kLe, 2}, {"and", Instr::kAnd, 1},
    {"or", Instr::kOr, 1},   {"xor", Instr::kXor, 1},
};

struct Function {
  const char* name;
  Instr::Op op;
};
constexpr Function kFunctions[] = {
    {"abs", Instr::kAbs}, {"acos", Instr::kAcos}, {"asin", Instr::kAsin}, {"cos", Instr::kCos},
    {"exp", Instr::kExp}, {"fix", Instr::kFix},   {"fup", Instr::kFup},   {"round", Instr::kRound},
    {"ln", Instr::kLn},   {"sin", Instr::kSin},   {"sqrt", Instr::kSqrt}, {"tan", Instr::kTan},
};

struct Keyword {
  const char* name;
  OKind kind;
};
constexpr Keyword kKeywords[] = {
    {"sub", OKind::kSub},         {"endsub", OKind::kEndsub},       {"call", OKind::kCall},
    {"return", OKind::kReturn},   {"if", OKind::kIf},               {"elseif", OKind::kElseif},
    {"else", OKind::kElse},       {"endif", OKind::kEndif},         {"while", OKind::kWhile},
    {"endwhile", OKind::kEndwhile}, {"do", OKind::kDo},             {"repeat", OKind::kRepeat},
    {"endrepeat", OKind::kEndrepeat}, {"break", OKind::kBreak},     {"continue", OKind::kContinue},
};

// The letters that start a word here; N and O have places of their own.
constexpr bool IsWordLetter(char lower) {
  return IsLetter(lower) && lower != 'e' && lower != 'n' && lower != 'o';
}

class Reader {
 public:
  Reader(std::string_view text, ParsedBlock& block) : s_(text), b_(block) {}

  void Line() {
    std::size_t i = 0;
    while (i < s_.size() && IsBlank(s_[i])) ++i;
    if (i < s_.size() && s_[i] == '%') {
      b_.percent = true;
      return;
    }
    i_ = i;
    if (i_ < s_.size() && s_[i_] == '/') {
      b_.block_delete = true;
      ++i_;
      last_ = i_;
    }
    b_.content_begin = static_cast<std::uint32_t>(i_);
    if (Peek() == 'n') {
      Take();
      if (!IsDigit(Peek())) Fail("an N word needs a number");
      b_.n = Number();
      b_.has_n = true;
      b_.content_begin = static_cast<std::uint32_t>(last_);
    }
    if (Peek() == 'o') {
      OWordLine();
      return;
    }
    std::uint32_t seen = 0;  // letters seen, bit per letter (G and M may repeat)
    for (;;) {
      char c = Peek();
      if (c == 0 || c == ';') return;
      if (c == '(') {
        Comment();
        continue;
      }
      if (c == '#') {
        SettingItem();
        continue;
      }
      if (IsLetter(c)) OtherDialect();
      if (c == 'n') Fail("an N word belongs at the start of the line");
      if (c == 'o') Fail("an O-word must begin its line");
      if (!IsWordLetter(c)) {
        if (IsLetter(c)) Fail(std::string("\"") + static_cast<char>(c & ~0x20) + "\" is not a word of this dialect");
        Fail(std::string("unexpected \"") + s_[i_] + "\"");
      }
      const std::uint32_t bit = 1u << (c - 'a');
      if ((seen & bit) && c != 'g' && c != 'm') {
        Fail(std::string("two ") + static_cast<char>(c & ~0x20) + " words on one line");
      }
      seen |= bit;
      ParsedWord word;
      word.letter = static_cast<char>(c & ~0x20);
      word.begin = static_cast<std::uint32_t>(i_);
      Take();
      if (Peek() == '(') Fail(std::string("a comment between ") + word.letter + " and its value");
      word.value = RealValue(word.letter);
      word.end = static_cast<std::uint32_t>(last_);
      b_.words_end = word.end;
      b_.words.push_back(word);
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& text) { throw GcodeError(text); }

  // Values nest through brackets, parameters and signs: the depth is bounded
  // so that no line can exhaust the stack.
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(d) {
      if (++depth > kMaxDepth) throw GcodeError("a value nests more than 100 deep");
    }
    ~Depth() { --depth; }
  };

  // The next character that is not a blank, lower case; 0 at the end.
  char Peek() {
    while (i_ < s_.size() && IsBlank(s_[i_])) ++i_;
    return i_ < s_.size() ? Lower(s_[i_]) : 0;
  }
  void Take() { last_ = ++i_; }
  void Expect(char c, const char* what) {
    if (Peek() != c) Fail(what);
    Take();
  }

  // Macro words of other controllers (IF [..] GOTO, WHILE [..] DO1, END1):
  // named plainly rather than read as words with strange values.
  void OtherDialect() {
    static constexpr const char* kWords[] = {"goto", "if", "while", "do", "end", "then", "gosub"};
    // A word's letter is followed by its value; only a second letter can start one of these.
    std::size_t next = i_ + 1;
    while (next < s_.size() && IsBlank(s_[next])) ++next;
    if (next >= s_.size() || !IsLetter(Lower(s_[next]))) return;
    std::size_t at = i_, last = last_;
    std::string letters = Letters();
    i_ = at;
    last_ = last;
    for (const char* w : kWords) {
      const std::size_t n = std::strlen(w);
      if (letters.compare(0, n, w) == 0 && (letters.size() == n || std::strcmp(w, "goto") == 0 ||
                                            std::strcmp(w, "end") == 0)) {
        std::string upper(w);
        for (char& ch : upper) ch = static_cast<char>(ch & ~0x20);
        Fail("\"" + upper + "\" is another dialect's macro word, not run here (use O-word control flow)");
      }
    }
  }

  void Comment() {
    std::size_t close = s_.find(')', i_ + 1);
    if (close == std::string_view::npos) Fail("a comment is not closed");
    i_ = close + 1;
  }

  // Letters (blanks between them mean nothing), lower case.
  std::string Letters() {
    std::string out;
    while (IsLetter(Peek())) {
      out += Lower(s_[i_]);
      Take();
    }
    return out;
  }

  // An explicit number: sign, digits, at most one point.
  double Number() {
    bool negative = false;
    char c = Peek();
    if (c == '+' || c == '-') {
      negative = c == '-';
      Take();
      Peek();
    }
    const std::size_t begin = i_;
    const char* p = s_.data() + i_;
    const char* const end = s_.data() + s_.size();
    std::uint64_t mantissa = 0;
    int significant = 0, fraction = 0;
    bool point = false, any = false;
    for (;;) {
      for (; p < end; ++p) {
        const char ch = *p;
        if (IsDigit(ch)) {
          any = true;
          if (significant > 0 || ch != '0') ++significant;
          if (significant <= 19) mantissa = mantissa * 10 + static_cast<std::uint64_t>(ch - '0');
          if (point) ++fraction;
        } else if (ch == '.' && !point) {
          point = true;
        } else {
          break;
        }
      }
      // Blanks inside a number mean nothing: "1 0 0" is 100.
      const char* q = p;
      while (q < end && IsBlank(*q)) ++q;
      if (q == p || q == end || !(IsDigit(*q) || (*q == '.' && !point))) break;
      p = q;
    }
    i_ = last_ = static_cast<std::size_t>(p - s_.data());
    if (!any) Fail("a number is missing");
    double value = 0.0;
    if (significant <= 15 && fraction <= 22) {
      // Exact integer over an exact power of ten: correctly rounded.
      value = static_cast<double>(mantissa) / kPow10[fraction];
    } else {
      // Long numbers: the library's correctly rounded reading of the digits, blanks left out.
      std::string digits;
      for (std::size_t k = begin; k < last_; ++k) {
        if (!IsBlank(s_[k])) digits += s_[k];
      }
      auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                    std::chars_format::fixed);
      if (result.ec != std::errc()) Fail("a number too long to read");
    }
    return negative ? -value : value;
  }

  void Emit(Instr::Op op, double value = 0.0, std::uint32_t arg = 0, std::uint32_t len = 0) {
    Instr in;
    in.op = op;
    in.value = value;
    in.arg = arg;
    in.len = len;
    b_.code.push_back(in);
  }

  // A value that becomes a constant when it compiled to one number.
  Value Compiled(std::size_t begin) {
    Value v;
    if (b_.code.size() == begin + 1 && b_.code[begin].op == Instr::kConst) {
      v.constant = b_.code[begin].value;
      b_.code.pop_back();
      return v;
    }
    v.begin = static_cast<std::uint32_t>(begin);
    v.end = static_cast<std::uint32_t>(b_.code.size());
    return v;
  }

  Value RealValue(char letter) {
    const char c = Peek();
    if (IsDigit(c) || c == '.') {  // the common case: a plain number
      Value v;
      v.constant = Number();
      return v;
    }
    const std::size_t begin = b_.code.size();
    Real(letter);
    return Compiled(begin);
  }

  // Emits the code of one real value.
  void Real(char letter) {
    Depth guard(depth_);
    char c = Peek();
    if (c == '[') {
      Take();
      Expression();
    } else if (c == '#') {
      Take();
      Parameter();
    } else if (c == '+' || c == '-') {
      // A sign before a number is the number's; before anything else, an operator.
      std::size_t at = i_;
      ++i_;
      char next = Peek();
      i_ = at;
      if (IsDigit(next) || next == '.') {
        Emit(Instr::kConst, Number());
      } else {
        Take();
        Real(letter);
        if (c == '-') Emit(Instr::kNeg);
      }
    } else if (IsLetter(c)) {
      Call();
    } else if (IsDigit(c) || c == '.') {
      Emit(Instr::kConst, Number());
    } else if (letter != 0) {
      Fail(std::string(1, letter) + " has no value");
    } else {
      Fail(c == 0 ? "a value is missing at the end of the line" : std::string("unexpected \"") + s_[i_] + "\"");
    }
  }

  // After "[": operands and operators up to the matching "]".
  void Expression() {
    struct Pending {
      Instr::Op op;
      int precedence;
    };
    Pending ops[64];
    int top = 0;
    Real(0);
    for (;;) {
      char c = Peek();
      if (c == ']') {
        Take();
        break;
      }
      Instr::Op op;
      int precedence;
      if (c == '*') {
        Take();
        if (Peek() == '*') {
          Take();
          op = Instr::kPow, precedence = 5;
        } else {
          op = Instr::kMul, precedence = 4;
        }
      } else if (c == '/') {
        Take();
        op = Instr::kDiv, precedence = 4;
      } else if (c == '+' || c == '-') {
        Take();
        op = c == '+' ? Instr::kAdd : Instr::kSub, precedence = 3;
      } else if (IsLetter(c)) {
        std::string name = Letters();
        const BinaryOp* found = nullptr;
        for (const BinaryOp& w : kWordOps) {
          if (name == w.name) found = &w;
        }
        if (!found) Fail("unknown operator \"" + name + "\"");
        op = found->op, precedence = found->precedence;
      } else if (c == 0) {
        Fail("an expression is not closed with \"]\"");
      } else {
        Fail(std::string("unexpected \"") + s_[i_] + "\" in an expression");
      }
      while (top > 0 && ops[top - 1].precedence >= precedence) Emit(ops[--top].op);
      if (top == 64) Fail("an expression too long");
      ops[top++] = {op, precedence};
      Real(0);
    }
    while (top > 0) Emit(ops[--top].op);
  }

  // After "#": the parameter's value.
  void Parameter() {
    char c = Peek();
    if (c == '<') {
      std::uint32_t at = 0, len = 0;
      Name(at, len);
      Emit(Instr::kNamed, 0.0, at, len);
      return;
    }
    Index();
    Emit(Instr::kNumbered);
  }

  // The index of a numbered parameter: a number, "#..." or "[...]".
  void Index() {
    Depth guard(depth_);
    char c = Peek();
    if (c == '#') {
      Take();
      Parameter();
    } else if (c == '[') {
      Take();
      Expression();
    } else if (IsDigit(c)) {
      Emit(Instr::kConst, Number());
    } else {
      Fail("\"#\" needs a number, a [expression] or a <name>");
    }
  }

  // After "#", at "<": the name up to ">", into the pool.
  void Name(std::uint32_t& at, std::uint32_t& len) {
    std::size_t close = s_.find('>', i_ + 1);
    if (close == std::string_view::npos) Fail("a parameter name is not closed with \">\"");
    at = static_cast<std::uint32_t>(b_.names.size());
    for (std::size_t p = i_ + 1; p < close; ++p) {
      if (!IsBlank(s_[p])) b_.names += Lower(s_[p]);
    }
    len = static_cast<std::uint32_t>(b_.names.size() - at);
    if (len == 0) Fail("an empty parameter name");
    i_ = close;
    Take();
  }

  // A function call, at its name.
  void Call() {
    std::string name = Letters();
    if (name == "atan") {
      Expect('[', "ATAN needs [y]/[x]");
      Expression();
      Expect('/', "ATAN needs [y]/[x]");
      Expect('[', "ATAN needs [y]/[x]");
      Expression();
      Emit(Instr::kAtan);
      return;
    }
    if (name == "exists") {
      Expect('[', "EXISTS needs [#<name>]");
      Expect('#', "EXISTS takes a named parameter");
      if (Peek() != '<') Fail("EXISTS takes a named parameter");
      std::uint32_t at = 0, len = 0;
      Name(at, len);
      Expect(']', "EXISTS needs [#<name>]");
      Emit(Instr::kExists, 0.0, at, len);
      return;
    }
    for (const Function& f : kFunctions) {
      if (name == f.name) {
        Expect('[', (std::string(f.name) + " needs [ ]").c_str());
        Expression();
        Emit(f.op);
        return;
      }
    }
    Fail("unknown function \"" + name + "\"");
  }

  void SettingItem() {
    Take();  // "#"
    Setting setting;
    const std::size_t begin = b_.code.size();
    if (Peek() == '<') {
      setting.named = true;
      Name(setting.name, setting.name_len);
    } else {
      Index();
      setting.index = Compiled(begin);
    }
    if (Peek() != '=') Fail("\"=\" is missing in a parameter setting");
    Take();
    setting.value = RealValue(0);
    b_.words_end = static_cast<std::uint32_t>(last_);
    b_.settings.push_back(setting);
  }

  void OWordLine() {
    Take();  // "o"
    OWord& o = b_.o;
    b_.has_o = true;
    char c = Peek();
    if (c == '<') {
      std::uint32_t at = 0, len = 0;
      Name(at, len);
      o.label.assign(1, '<');  // (appended: g++ 12 warns falsely on "<" + string)
      o.label.append(b_.names, at, len);
      o.label += '>';
    } else if (c == '[' || c == '#') {
      o.indirect = true;
      o.label_value = RealValue(0);
    } else if (IsDigit(c)) {
      double number = Number();
      if (number != static_cast<double>(static_cast<std::int64_t>(number)) || number > 1e15) {
        Fail("an O-word number must be whole");
      }
      o.label = std::to_string(static_cast<std::int64_t>(number));
    } else {
      Fail("an O-word needs a number or a <name>");
    }
    std::string keyword = Letters();
    o.kind = OKind::kProgram;
    if (!keyword.empty()) {
      o.kind = OKind::kNone;
      for (const Keyword& k : kKeywords) {
        if (keyword == k.name) o.kind = k.kind;
      }
      if (o.kind == OKind::kNone) Fail("unknown O-word keyword \"" + keyword + "\"");
    }
    switch (o.kind) {
      case OKind::kCall:
        while (Peek() == '[') o.args.push_back(RealValue(0));
        if (o.args.size() > 30) Fail("a call takes at most 30 arguments");
        break;
      case OKind::kIf: case OKind::kElseif: case OKind::kWhile: case OKind::kRepeat:
        if (Peek() != '[') Fail(std::string("\"") + keyword + "\" needs a [condition]");
        o.args.push_back(RealValue(0));
        break;
      case OKind::kReturn: case OKind::kEndsub:
        if (Peek() == '[') o.args.push_back(RealValue(0));
        break;
      default: break;
    }
    b_.words_end = static_cast<std::uint32_t>(last_);
    for (;;) {
      c = Peek();
      if (c == 0 || c == ';') return;
      if (c != '(') Fail("an O-word line holds nothing but the O-word");
      Comment();
    }
  }

  static constexpr int kMaxDepth = 100;
  std::string_view s_;
  ParsedBlock& b_;
  int depth_ = 0;
  std::size_t i_ = 0;
  std::size_t last_ = 0;  // one past the last character taken
};

}  // namespace

void ParsedBlock::Clear() {
  percent = block_delete = has_n = has_o = false;
  n = 0.0;
  o.kind = OKind::kNone;
  o.label.clear();
  o.indirect = false;
  o.args.clear();
  words.clear();
  settings.clear();
  code.clear();
  names.clear();
  content_begin = words_end = 0;
  error.clear();
}

const ParsedWord* ParsedBlock::Find(char letter) const {
  for (const ParsedWord& w : words) {
    if (w.letter == letter) return &w;
  }
  return nullptr;
}

void ReadBlock(std::string_view text, ParsedBlock& block) {
  block.Clear();
  try {
    Reader(text, block).Line();
  } catch (const GcodeError& e) {
    block.error = e.what();
  }
}

const char* OKeyword(OKind kind) {
  for (const Keyword& k : kKeywords) {
    if (k.kind == kind) return k.name;
  }
  return "";
}

}  // namespace refhost
