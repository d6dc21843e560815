#include "hostlink/host_value.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "hostlink/host_error.h"

namespace hostlink {
namespace {

const char kInvalidFloat[] = "Invalid floating point operation";

[[noreturn]] void CannotConvert(ValueKind from, const char* to) {
  throw HostError(std::string("Could not convert variant of type (") + KindName(from) +
                  ") into type (" + to + ")");
}

[[noreturn]] void Overflow(ValueKind from, const char* to) {
  throw HostError(std::string("Overflow while converting variant of type (") +
                  KindName(from) + ") into type (" + to + ")");
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool StartsWith(const std::string& s, std::size_t at, const std::string& prefix) {
  return !prefix.empty() && s.compare(at, prefix.size(), prefix) == 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Appends the digits at `*at` to `out`; with `grouped`, group separators may
// stand between groups of exactly three digits. Returns the digit count, or
// nothing when the digits are badly grouped.
std::optional<std::size_t> ReadDigits(const std::string& s, std::size_t* at,
                                      const std::string& group, bool grouped, std::string* out) {
  std::size_t count = 0;
  std::size_t run = 0;  // digits since the last separator
  bool sawGroup = false;
  while (*at < s.size()) {
    if (IsDigit(s[*at])) {
      out->push_back(s[(*at)++]);
      ++count;
      ++run;
    } else if (grouped && run > 0 && StartsWith(s, *at, group) &&
               *at + group.size() < s.size() && IsDigit(s[*at + group.size()])) {
      if (sawGroup && run != 3) return std::nullopt;
      if (!sawGroup && run > 3) return std::nullopt;
      sawGroup = true;
      run = 0;
      *at += group.size();
    } else {
      break;
    }
  }
  if (sawGroup && run != 3) return std::nullopt;
  return count;
}

}  // namespace

const char* KindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::Empty: return "Empty";
    case ValueKind::Null: return "Null";
    case ValueKind::Byte: return "Byte";
    case ValueKind::SmallInt: return "SmallInt";
    case ValueKind::Word: return "Word";
    case ValueKind::Integer: return "Integer";
    case ValueKind::LongWord: return "LongWord";
    case ValueKind::Int64: return "Int64";
    case ValueKind::UInt64: return "UInt64";
    case ValueKind::Double: return "Double";
    case ValueKind::Boolean: return "Boolean";
    case ValueKind::OleStr: return "OleStr";
    case ValueKind::Unknown: return "Unknown";
  }
  return "Unknown";
}

HostValue HostValue::Null() {
  HostValue v;
  v.kind_ = ValueKind::Null;
  return v;
}

HostValue HostValue::Unknown() {
  HostValue v;
  v.kind_ = ValueKind::Unknown;
  return v;
}

HostValue HostValue::Signed(ValueKind kind, std::int64_t value) {
  HostValue v;
  v.kind_ = kind;
  v.signed_ = value;
  return v;
}

HostValue HostValue::Unsigned(ValueKind kind, std::uint64_t value) {
  HostValue v;
  v.kind_ = kind;
  v.unsigned_ = value;
  return v;
}

HostValue HostValue::Real(double value) {
  HostValue v;
  v.kind_ = ValueKind::Double;
  v.real_ = value;
  return v;
}

HostValue HostValue::Boolean(bool value) {
  HostValue v;
  v.kind_ = ValueKind::Boolean;
  v.signed_ = value ? -1 : 0;
  return v;
}

HostValue HostValue::Text(std::string utf8) {
  HostValue v;
  v.kind_ = ValueKind::OleStr;
  v.text_ = std::move(utf8);
  return v;
}

bool ParseLocaleNumber(const std::string& text, const NumberFormat& format, bool whole,
                       double* out) {
  std::size_t at = 0;
  std::size_t end = text.size();
  while (at < end && IsBlank(text[at])) ++at;
  while (end > at && IsBlank(text[end - 1])) --end;
  const std::string s = text.substr(at, end - at);
  at = 0;

  std::string plain;  // the number rewritten for from_chars
  if (at < s.size() && (s[at] == '+' || s[at] == '-')) {
    if (s[at] == '-') plain.push_back('-');
    ++at;
  }
  const bool grouped = !format.group.empty() && format.group != format.decimal;
  // A bad grouping fails the whole text, whatever follows it.
  const std::optional<std::size_t> integral = ReadDigits(s, &at, format.group, grouped, &plain);
  if (!integral) return false;
  std::size_t digits = *integral;
  if (!whole && StartsWith(s, at, format.decimal)) {
    at += format.decimal.size();
    plain.push_back('.');
    digits += ReadDigits(s, &at, format.group, false, &plain).value_or(0);
  }
  if (digits == 0) return false;
  if (!whole && at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
    plain.push_back('e');
    ++at;
    if (at < s.size() && (s[at] == '+' || s[at] == '-')) plain.push_back(s[at++]);
    if (ReadDigits(s, &at, format.group, false, &plain).value_or(0) == 0) return false;
  }
  if (at != s.size()) return false;

  double value = 0.0;
  const char* first = plain.data();
  const char* last = plain.data() + plain.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

std::int32_t HostValue::ToInteger(const NumberFormat& format) const {
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  switch (kind_) {
    case ValueKind::Empty:
      return 0;
    case ValueKind::SmallInt:
    case ValueKind::Integer:
    case ValueKind::Int64:
    case ValueKind::Boolean:
      if (signed_ < kMin || signed_ > kMax) Overflow(kind_, "Integer");
      return static_cast<std::int32_t>(signed_);
    case ValueKind::Byte:
    case ValueKind::Word:
    case ValueKind::LongWord:
    case ValueKind::UInt64:
      if (unsigned_ > static_cast<std::uint64_t>(kMax)) Overflow(kind_, "Integer");
      return static_cast<std::int32_t>(unsigned_);
    case ValueKind::Double: {
      // 2^63 bounds the 64-bit integer range on both sides.
      constexpr double kLimit = 9223372036854775808.0;
      if (!std::isfinite(real_) || real_ >= kLimit || real_ < -kLimit) {
        throw HostError(kInvalidFloat);
      }
      double rounded = std::round(real_);  // halves away from zero
      if (std::fabs(real_ - std::trunc(real_)) == 0.5 && std::fmod(rounded, 2.0) != 0.0) {
        rounded -= std::copysign(1.0, real_);  // back to the even neighbour
      }
      if (rounded < static_cast<double>(kMin) || rounded > static_cast<double>(kMax)) {
        Overflow(kind_, "Integer");
      }
      return static_cast<std::int32_t>(rounded);
    }
    case ValueKind::OleStr: {
      double value = 0.0;
      if (!ParseLocaleNumber(text_, format, true, &value)) CannotConvert(kind_, "Integer");
      if (value < static_cast<double>(kMin) || value > static_cast<double>(kMax)) {
        Overflow(kind_, "Integer");
      }
      return static_cast<std::int32_t>(value);
    }
    case ValueKind::Null:
    case ValueKind::Unknown:
      break;
  }
  CannotConvert(kind_, "Integer");
}

double HostValue::ToReal(const NumberFormat& format) const {
  switch (kind_) {
    case ValueKind::Empty:
      return 0.0;
    case ValueKind::SmallInt:
    case ValueKind::Integer:
    case ValueKind::Int64:
    case ValueKind::Boolean:
      return static_cast<double>(signed_);
    case ValueKind::Byte:
    case ValueKind::Word:
    case ValueKind::LongWord:
    case ValueKind::UInt64:
      return static_cast<double>(unsigned_);
    case ValueKind::Double:
      if (!std::isfinite(real_)) throw HostError(kInvalidFloat);
      return real_;
    case ValueKind::OleStr: {
      double value = 0.0;
      if (!ParseLocaleNumber(text_, format, false, &value)) CannotConvert(kind_, "Double");
      return value;
    }
    case ValueKind::Null:
    case ValueKind::Unknown:
      break;
  }
  CannotConvert(kind_, "Double");
}

}  // namespace hostlink
