// EntryValue: 8 bytes holding either a double or a short function name.
#ifndef MCPARSER_ENTRY_VALUE_H_
#define MCPARSER_ENTRY_VALUE_H_

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace mcparser {

// A name is a length byte followed by at most kMaxNameLength characters, in
// the same 8 bytes as the double. Reading a name as a double (or the other
// way round) gives whatever those bytes mean; it is never undefined.
class EntryValue {
 public:
  static constexpr std::size_t kMaxNameLength = 5;

  EntryValue() = default;
  explicit EntryValue(double number) { SetNumber(number); }

  double Number() const {
    double d;
    std::memcpy(&d, bytes_.data(), sizeof d);
    return d;
  }
  void SetNumber(double d) { std::memcpy(bytes_.data(), &d, sizeof d); }

  // Requires name.size() <= kMaxNameLength. Unused bytes become 0.
  void SetName(std::string_view name) {
    bytes_.fill(0);
    bytes_[0] = static_cast<unsigned char>(name.size());
    std::memcpy(bytes_.data() + 1, name.data(), name.size());
  }
  // The length byte is capped, so any 8 bytes read as a name safely.
  std::string_view Name() const {
    std::size_t n = bytes_[0] <= kMaxNameLength ? bytes_[0] : kMaxNameLength;
    return {reinterpret_cast<const char*>(bytes_.data() + 1), n};
  }

 private:
  alignas(double) std::array<unsigned char, 8> bytes_{};
};
static_assert(sizeof(double) == 8);

}  // namespace mcparser

#endif  // MCPARSER_ENTRY_VALUE_H_
