// The parameters of a running NC program: numbered #1-#5602, local named
// #<name> and global named #<_name>, with the call frames of O-word
// subroutines.
//
// Contracts:
// - Numbered parameters read 0 until set. #1-#30 belong to the innermost
//   frame (a call's arguments); #31 and up are global.
// - A named parameter read before it is set is an error (GcodeError).
//   Names are stored as given: the reader lower-cases them and drops blanks.
//   A name that begins with "_" is global; any other is local to the frame
//   that set it and gone when that frame returns.
// - Copies are cheap: a copy shares the data until one of the two changes
//   (copy on write), so a snapshot of the state every few hundred lines
//   costs a pointer unless parameters changed since.
// - Not thread-safe: copies share their data without atomic counting, so a
//   state and its copies belong to one thread.
#ifndef REFHOST_CORE_PARAMETERS_H_
#define REFHOST_CORE_PARAMETERS_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace refhost {

class Parameters {
 public:
  static constexpr int kMaxNumbered = 5602;
  static constexpr int kLocalCount = 30;  // #1-#30 are a call's own
  static constexpr int kMaxCallDepth = 10;

  Parameters();
  Parameters(const Parameters& other);
  Parameters& operator=(const Parameters& other);
  ~Parameters();

  // Requires 1 <= n <= kMaxNumbered.
  double Numbered(int n) const;
  void SetNumbered(int n, double value);

  // False when the name was never set (in scope).
  bool FindNamed(std::string_view name, double& value) const;
  void SetNamed(std::string_view name, double value);

  // A subroutine call: a new frame whose #1-#30 start as the caller's, with
  // the first args.size() taken from `args` (at most kLocalCount), and no
  // local names. Throws GcodeError beyond kMaxCallDepth frames.
  void PushFrame(const double* args, std::size_t count);
  // Back to the caller's frame (its #1-#30 and local names as they were).
  // Requires a frame pushed.
  void PopFrame();
  int Depth() const;  // 0 at the program's own level

  // True when both hold the same data object (no change since the copy).
  bool SharesWith(const Parameters& other) const { return data_ == other.data_; }

 private:
  struct Frame {
    std::array<double, kLocalCount> local{};
    std::vector<std::pair<std::string, double>> named;  // sorted by name
  };
  struct Data {
    std::vector<std::pair<int, double>> numbered;        // #31.., sorted
    std::vector<std::pair<std::string, double>> global;  // "_name", sorted
    std::vector<Frame> frames{1};
    int owners = 1;  // Parameters sharing it
  };
  Data& Own();  // the data, copied first when shared
  void Release();

  Data* data_;
};

}  // namespace refhost

#endif  // REFHOST_CORE_PARAMETERS_H_
