// A value as it arrives from the host, before conversion to an integer or a
// real, with the conversion rules and their failure texts.
#ifndef HOSTLINK_HOST_VALUE_H_
#define HOSTLINK_HOST_VALUE_H_

#include <cstdint>
#include <string>

namespace hostlink {

// The kinds a result can have. The names in the failure texts are KindName().
enum class ValueKind {
  Empty,     // no value at all
  Null,      // an empty array
  Byte,      // unsigned 8 bit
  SmallInt,  // signed 16 bit
  Word,      // unsigned 16 bit
  Integer,   // signed 32 bit
  LongWord,  // unsigned 32 bit
  Int64,
  UInt64,
  Double,
  Boolean,
  OleStr,    // text
  Unknown,   // anything else (structures, non-empty arrays, descriptors)
};

// "Empty", "Null", "Byte", ..., "OleStr", "Unknown".
const char* KindName(ValueKind kind);

// The user's number format for text results, as UTF-8 strings. The encoding
// supplies it (from the platform's locale); an empty group separator means
// the locale groups no digits.
struct NumberFormat {
  std::string decimal = ".";
  std::string group = ",";
};

class HostValue {
 public:
  HostValue() = default;  // Empty

  static HostValue Empty() { return HostValue(); }
  static HostValue Null();
  static HostValue Unknown();
  // `kind` is one of the signed kinds: SmallInt, Integer, Int64.
  static HostValue Signed(ValueKind kind, std::int64_t value);
  // `kind` is one of the unsigned kinds: Byte, Word, LongWord, UInt64.
  static HostValue Unsigned(ValueKind kind, std::uint64_t value);
  static HostValue Real(double value);
  static HostValue Boolean(bool value);
  static HostValue Text(std::string utf8);

  ValueKind kind() const { return kind_; }

  // The value as a 32-bit signed integer. Throws HostError with
  // "Could not convert variant of type (K) into type (Integer)" when the kind
  // has no integer reading, "Overflow while converting variant of type (K)
  // into type (Integer)" when the value lies outside the 32-bit range, and
  // "Invalid floating point operation" for a Double that is NaN, infinite or
  // beyond the 64-bit integer range. Doubles round to nearest, halves to even.
  std::int32_t ToInteger(const NumberFormat& format) const;

  // The value as a double. Throws HostError with "Could not convert variant
  // of type (K) into type (Double)" when the kind has no real reading or the
  // text is no number, and "Invalid floating point operation" for a NaN or
  // infinite Double: such a value never reaches the caller.
  double ToReal(const NumberFormat& format) const;

 private:
  ValueKind kind_ = ValueKind::Empty;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double real_ = 0.0;
  std::string text_;
};

// Reads `text` as a number written with `format`: optional blanks around,
// optional sign, digits with group separators between them, optional decimal
// part and exponent (only when `whole` is false). Returns false for anything
// else, NaN and infinity spellings included.
bool ParseLocaleNumber(const std::string& text, const NumberFormat& format,
                       bool whole, double* out);

}  // namespace hostlink

#endif  // HOSTLINK_HOST_VALUE_H_
