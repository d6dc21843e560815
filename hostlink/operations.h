// The host editor's automation members, as the rest of the program calls them.
//
// One implementation per link: HostEditor (hostlink/host_editor.h) over a real
// encoding (D-Bus on Linux, COM on Windows), or a scripted double in tests.
// Every member either completes or throws: a HostError with the text that the
// user is shown, or a floating-point fault. Nothing is retried.
#ifndef HOSTLINK_OPERATIONS_H_
#define HOSTLINK_OPERATIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace hostlink {

// How a line number travels. COM sends the line of selectline() before the
// walk, and the line of markline(0, 0), by reference; every feed write sends
// them by value. A D-Bus host sees the same values either way.
enum class ArgForm { ByValue, ByReference };

class HostOperations {
 public:
  virtual ~HostOperations() = default;

  // Queries: the host's system type, first and last selected line.
  virtual std::int32_t SystemType() = 0;
  virtual std::int32_t StartSelection() = 0;
  virtual std::int32_t EndSelection() = 0;

  // Makes `line` the host's selected line (where the next add() acts).
  virtual void selectline(std::int32_t line, ArgForm form) = 0;
  // mark 1 sets the gutter mark of `line`, 0 clears it; (0, 0) opens a pass.
  virtual void markline(std::int32_t line, std::int32_t mark, ArgForm lineForm) = 0;
  // Advances the host's block interpreter by one line.
  virtual void step() = 0;
  // One value of the line the last step() interpreted.
  virtual double CurrentBlock(std::int32_t index) = 0;
  // Puts the word `letter` `value` on the selected line. The value travels by
  // reference on COM; the caller's own variable is never handed out.
  virtual void add(const std::string& letter, double value) = 0;

  // Batching. The host sees the same calls in the same order either way;
  // only the waiting changes. A link that batches sends a deferred call
  // without waiting and collects its answer, in order, before the answer of
  // the next call that needs one; a deferred call that failed then ends that
  // later call (or Settle()) with its own error. The defaults make the plain
  // call at once, so a link that does not batch needs nothing.
  virtual void stepDeferred() { step(); }
  virtual void selectlineDeferred(std::int32_t line, ArgForm form) { selectline(line, form); }
  virtual void marklineDeferred(std::int32_t line, std::int32_t mark, ArgForm lineForm) {
    markline(line, mark, lineForm);
  }
  // Announces the CurrentBlock reads that come next, in this order (each is
  // still taken with CurrentBlock()); a link may send them at once. Reads
  // announced and not taken are dropped at the next other call.
  virtual void AnnounceReads(const std::int32_t* indices, std::size_t count) {
    (void)indices;
    (void)count;
  }
  // Waits for every deferred call; throws the first failure.
  virtual void Settle() {}
};

}  // namespace hostlink

#endif  // HOSTLINK_OPERATIONS_H_
