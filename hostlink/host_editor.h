// HostEditor: the program's one link to the host, empty or linked.
#ifndef HOSTLINK_HOST_EDITOR_H_
#define HOSTLINK_HOST_EDITOR_H_

#include <deque>
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
  void Link(std::unique_ptr<Transport> transport) {
    posted_.clear();
    transport_ = std::move(transport);
  }
  bool Linked() const { return transport_ != nullptr; }
  // Drops the link (at shutdown).
  void Release() {
    posted_.clear();
    transport_.reset();
  }

  std::int32_t SystemType() override;
  std::int32_t StartSelection() override;
  std::int32_t EndSelection() override;
  void selectline(std::int32_t line, ArgForm form) override;
  void markline(std::int32_t line, std::int32_t mark, ArgForm lineForm) override;
  void step() override;
  double CurrentBlock(std::int32_t index) override;
  void add(const std::string& letter, double value) override;

  // Over a transport that can post, deferred calls and announced reads are
  // sent at once and their answers collected in order; otherwise they are
  // plain calls. A failure collected ends the call that collected it, and
  // every answer still outstanding behind it is dropped; a post that fails
  // reports the first failure among the calls before it, if any, else its
  // own. selectline() goes out behind deferred calls and waits for all of
  // them at once; add() and the queries are sent only once every earlier
  // call has answered.
  void stepDeferred() override;
  void selectlineDeferred(std::int32_t line, ArgForm form) override;
  void marklineDeferred(std::int32_t line, std::int32_t mark, ArgForm lineForm) override;
  void AnnounceReads(const std::int32_t* indices, std::size_t count) override;
  void Settle() override;

 private:
  Transport& Use();
  // Use() for a call that waits: collects the deferred answers before it
  // and drops reads announced and not taken.
  Transport& Ready();
  // Before a new call is posted: announced reads not taken come before it,
  // so they are dropped (collecting the deferred calls ahead of them).
  void DropUntakenReads();
  std::int32_t IntegerQuery(const char* member);
  void Post(const std::string& member, const std::vector<Argument>& args, std::int64_t read);
  // The oldest outstanding answer; on failure drops all the others.
  HostValue Collect();
  void Defer(const std::string& member, const std::vector<Argument>& args);

  std::unique_ptr<Transport> transport_;
  // Calls posted and not collected: the index of an announced read, or
  // kDeferredMethod.
  static constexpr std::int64_t kDeferredMethod = INT64_MIN;
  std::deque<std::int64_t> posted_;
};

}  // namespace hostlink

#endif  // HOSTLINK_HOST_EDITOR_H_
