// The host operations served straight by an Automation, in process: the
// pass runs against the editor's own members without a bus.
#ifndef REFHOST_EDITOR_TESTS_AUTOMATION_HOST_H_
#define REFHOST_EDITOR_TESTS_AUTOMATION_HOST_H_

#include "hostlink/operations.h"
#include "refhost/core/automation.h"

namespace refhost::testing {

class AutomationHost : public hostlink::HostOperations {
 public:
  explicit AutomationHost(Automation& automation) : a_(automation) {}
  std::int32_t SystemType() override { return a_.SystemType(); }
  std::int32_t StartSelection() override { return a_.StartSelection(); }
  std::int32_t EndSelection() override { return a_.EndSelection(); }
  void selectline(std::int32_t line, hostlink::ArgForm) override { a_.selectline(line); }
  void markline(std::int32_t line, std::int32_t mark, hostlink::ArgForm) override { a_.markline(line, mark); }
  void step() override { a_.step(); }
  double CurrentBlock(std::int32_t index) override { return a_.CurrentBlock(index); }
  void add(const std::string& letter, double value) override { a_.add(letter, value); }

 private:
  Automation& a_;
};

}  // namespace refhost::testing

#endif  // REFHOST_EDITOR_TESTS_AUTOMATION_HOST_H_
