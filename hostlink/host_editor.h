// HostEditor: the program's one link to the host, empty or linked.
#ifndef HOSTLINK_HOST_EDITOR_H_
#define HOSTLINK_HOST_EDITOR_H_

#include <memory>

#include "hostlink/operations.h"
#include "hostlink/transport.h"

namespace hostlink {

// Starts empty. On an empty link every member throws
// HostError("Invalid variant operation") and sends nothing. A linked editor
// stays linked after failed calls and after the host has gone away; only
// Release() empties it again.
class HostEditor : public HostOperations {
 public:
  HostEditor() = default;
  HostEditor(const HostEditor&) = delete;
  HostEditor& operator=(const HostEditor&) = delete;

  // Takes the link; `transport` may be null (stays empty).
  void Link(std::unique_ptr<Transport> transport) { transport_ = std::move(transport); }
  bool Linked() const { return transport_ != nullptr; }
  // Drops the link (at shutdown).
  void Release() { transport_.reset(); }

  std::int32_t SystemType() override;
  std::int32_t StartSelection() override;
  std::int32_t EndSelection() override;
  void selectline(std::int32_t line, ArgForm form) override;
  void markline(std::int32_t line, std::int32_t mark, ArgForm lineForm) override;
  void step() override;
  double CurrentBlock(std::int32_t index) override;
  void add(const std::string& letter, double value) override;

 private:
  Transport& Use();
  std::int32_t IntegerQuery(const char* member);

  std::unique_ptr<Transport> transport_;
};

}  // namespace hostlink

#endif  // HOSTLINK_HOST_EDITOR_H_
