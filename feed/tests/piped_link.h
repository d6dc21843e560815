// A link that batches, in the test's own process: HostEditor over a
// transport that hands each call to a ScriptedHost the moment it is posted
// (as a bus would deliver it) and gives the answer, or the failure, only
// when it is collected.
#ifndef FEED_TESTS_PIPED_LINK_H_
#define FEED_TESTS_PIPED_LINK_H_

#include <deque>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "feed/tests/scripted_host.h"
#include "hostlink/host_editor.h"
#include "hostlink/transport.h"

namespace feed::testing {

class PipedTransport : public hostlink::Transport {
 public:
  explicit PipedTransport(ScriptedHost& host) : host_(host) {}

  hostlink::HostValue Query(const std::string& member) override {
    std::int32_t v;
    if (member == "SystemType") v = host_.SystemType();
    else if (member == "StartSelection") v = host_.StartSelection();
    else v = host_.EndSelection();
    return hostlink::HostValue::Signed(hostlink::ValueKind::Integer, v);
  }
  void Call(const std::string& member, const std::vector<hostlink::Argument>& args) override {
    if (member == "selectline") host_.selectline(args[0].int32, args[0].form);
    else if (member == "markline") host_.markline(args[0].int32, args[1].int32, args[0].form);
    else if (member == "step") host_.step();
    else host_.add(args[0].text, args[1].real);
  }
  hostlink::HostValue GetIndexed(const std::string&, std::int32_t index) override {
    return hostlink::HostValue::Real(host_.CurrentBlock(index));
  }
  hostlink::NumberFormat Format() const override { return {}; }

  bool CanPost() const override { return true; }
  void Post(const std::string& member, const std::vector<hostlink::Argument>& args) override {
    Answer a;
    try {
      if (member == "CurrentBlock") a.value = GetIndexed(member, args[0].int32);
      else Call(member, args);
    } catch (...) {
      a.failure = std::current_exception();
    }
    answers_.push_back(a);
  }
  hostlink::HostValue Next() override {
    Answer a = answers_.front();
    answers_.pop_front();
    if (a.failure) std::rethrow_exception(a.failure);
    return a.value;
  }
  void Abandon() override { answers_.clear(); }

 private:
  struct Answer {
    hostlink::HostValue value;
    std::exception_ptr failure;
  };
  ScriptedHost& host_;
  std::deque<Answer> answers_;
};

}  // namespace feed::testing

#endif  // FEED_TESTS_PIPED_LINK_H_
