#include "hostlink/host_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "hostlink/host_error.h"

namespace hostlink {
namespace {

const NumberFormat kC{".", ","};
const NumberFormat kGerman{",", "."};
const NumberFormat kFrench{",", "\u202f"};

std::string IntegerOutcome(const HostValue& v, const NumberFormat& f = kC) {
  try {
    return std::to_string(v.ToInteger(f));
  } catch (const HostError& e) {
    return e.what();
  }
}

std::string RealOutcome(const HostValue& v, const NumberFormat& f = kC) {
  try {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v.ToReal(f));
    return buf;
  } catch (const HostError& e) {
    return e.what();
  }
}

struct Row {
  const char* name;
  HostValue value;
  std::string integer;  // outcome of ToInteger
  std::string real;     // outcome of ToReal
};

std::string NoConv(const char* from, const char* to) {
  return std::string("Could not convert variant of type (") + from + ") into type (" + to + ")";
}
std::string Over(const char* from) {
  return std::string("Overflow while converting variant of type (") + from +
         ") into type (Integer)";
}
const std::string kInvalid = "Invalid floating point operation";

TEST(HostValueTest, ConversionTable) {
  const double inf = std::numeric_limits<double>::infinity();
  const Row rows[] = {
      {"empty", HostValue::Empty(), "0", "0"},
      {"null", HostValue::Null(), NoConv("Null", "Integer"), NoConv("Null", "Double")},
      {"unknown", HostValue::Unknown(), NoConv("Unknown", "Integer"), NoConv("Unknown", "Double")},
      {"byte", HostValue::Unsigned(ValueKind::Byte, 255), "255", "255"},
      {"smallint", HostValue::Signed(ValueKind::SmallInt, -32768), "-32768", "-32768"},
      {"integer min", HostValue::Signed(ValueKind::Integer, INT32_MIN), "-2147483648", "-2147483648"},
      {"longword max", HostValue::Unsigned(ValueKind::LongWord, 4294967295u), Over("LongWord"), "4294967295"},
      {"longword int32 max", HostValue::Unsigned(ValueKind::LongWord, 2147483647u), "2147483647", "2147483647"},
      {"longword just over", HostValue::Unsigned(ValueKind::LongWord, 2147483648u), Over("LongWord"), "2147483648"},
      {"int64 in range", HostValue::Signed(ValueKind::Int64, 2147483647), "2147483647", "2147483647"},
      {"int64 over", HostValue::Signed(ValueKind::Int64, 2147483648LL), Over("Int64"), "2147483648"},
      {"int64 under", HostValue::Signed(ValueKind::Int64, -2147483649LL), Over("Int64"), "-2147483649"},
      {"uint64 over", HostValue::Unsigned(ValueKind::UInt64, UINT64_MAX), Over("UInt64"), "1.8446744073709552e+19"},
      {"uint64 small", HostValue::Unsigned(ValueKind::UInt64, 7), "7", "7"},
      {"double 304.5 to even", HostValue::Real(304.5), "304", "304.5"},
      {"double 305.5 to even", HostValue::Real(305.5), "306", "305.5"},
      {"double -2.5 to even", HostValue::Real(-2.5), "-2", "-2.5"},
      {"double -3.5 to even", HostValue::Real(-3.5), "-4", "-3.5"},
      {"double just below half", HostValue::Real(304.49999999999994), "304", "304.49999999999994"},
      {"double 0.5", HostValue::Real(0.5), "0", "0.5"},
      {"double beyond int32", HostValue::Real(2147483647.5), Over("Double"), "2147483647.5"},
      {"double int32 max", HostValue::Real(2147483647.25), "2147483647", "2147483647.25"},
      {"double int32 min half to even", HostValue::Real(-2147483648.5), "-2147483648", "-2147483648.5"},
      {"double below int32", HostValue::Real(-2147483649.0), Over("Double"), "-2147483649"},
      {"double beyond int64", HostValue::Real(9.3e18), kInvalid, "9.3e+18"},
      {"double 2^63 beyond int64", HostValue::Real(9223372036854775808.0), kInvalid, "9.2233720368547758e+18"},
      {"double below 2^63 overflow", HostValue::Real(9223372036854774784.0), Over("Double"), "9.2233720368547748e+18"},
      {"double -2^63 still overflow", HostValue::Real(-9223372036854775808.0), Over("Double"), "-9.2233720368547758e+18"},
      {"double nan", HostValue::Real(std::nan("")), kInvalid, kInvalid},
      {"double inf", HostValue::Real(inf), kInvalid, kInvalid},
      {"double -inf", HostValue::Real(-inf), kInvalid, kInvalid},
      {"boolean true", HostValue::Boolean(true), "-1", "-1"},
      {"boolean false", HostValue::Boolean(false), "0", "0"},
      {"text whole", HostValue::Text(" 304 "), "304", "304"},
      {"text grouped", HostValue::Text("-12,345"), "-12345", "-12345"},
      {"text real", HostValue::Text("12.5"), NoConv("OleStr", "Integer"), "12.5"},
      {"text exponent", HostValue::Text("1.5e3"), NoConv("OleStr", "Integer"), "1500"},
      {"text too big", HostValue::Text("3000000000"), Over("OleStr"), "3000000000"},
      {"text empty", HostValue::Text(""), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text words", HostValue::Text("abc"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text nan", HostValue::Text("nan"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text inf", HostValue::Text("inf"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text huge exponent", HostValue::Text("1e999"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text bad grouping", HostValue::Text("1,23"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text grouped decimal", HostValue::Text("1,234.5"), NoConv("OleStr", "Integer"), "1234.5"},
      {"text short group decimal", HostValue::Text("1,00.5"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text long group decimal", HostValue::Text("1,2345.5"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text long first group decimal", HostValue::Text("1234,567.5"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text bad grouping exponent", HostValue::Text("1,00e2"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text trailing junk", HostValue::Text("12x"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
      {"text lone sign", HostValue::Text("-"), NoConv("OleStr", "Integer"), NoConv("OleStr", "Double")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(IntegerOutcome(row.value), row.integer);
    EXPECT_EQ(RealOutcome(row.value), row.real);
  }
}

TEST(HostValueTest, TextFollowsTheSuppliedLocale) {
  struct {
    const char* text;
    const NumberFormat* format;
    std::string real;
  } rows[] = {
      {"12,5", &kGerman, "12.5"},
      {"1.234,5", &kGerman, "1234.5"},
      {"12.5", &kGerman, NoConv("OleStr", "Double")},  // 125 would be a misreading
      {"12.5,0", &kGerman, NoConv("OleStr", "Double")},
      {"1.2345,5", &kGerman, NoConv("OleStr", "Double")},
      {"1.234.567,5", &kGerman, "1234567.5"},
      {"1\u202f23,5", &kFrench, NoConv("OleStr", "Double")},
      {"1\u202f234,25", &kFrench, "1234.25"},
      {"1,5", &kC, NoConv("OleStr", "Double")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(RealOutcome(HostValue::Text(row.text), *row.format), row.real);
  }
  EXPECT_EQ(IntegerOutcome(HostValue::Text("1.234"), kGerman), "1234");
}

TEST(HostValueTest, KindNamesAreTheTextNames) {
  EXPECT_STREQ(KindName(ValueKind::OleStr), "OleStr");
  EXPECT_STREQ(KindName(ValueKind::SmallInt), "SmallInt");
  EXPECT_STREQ(KindName(ValueKind::LongWord), "LongWord");
}

}  // namespace
}  // namespace hostlink
