#include "hostlink/host_editor.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "hostlink/attach.h"
#include "hostlink/host_error.h"

namespace hostlink {
namespace {

// Records each call as text and answers queries from a fixed value.
class FakeTransport : public Transport {
 public:
  explicit FakeTransport(std::vector<std::string>* log) : log_(log) {}
  HostValue Query(const std::string& member) override {
    log_->push_back("query " + member);
    return answer;
  }
  void Call(const std::string& member, const std::vector<Argument>& args) override {
    std::string line = member;
    for (const Argument& a : args) {
      line += ' ';
      switch (a.type) {
        case Argument::Type::Int32: line += std::to_string(a.int32); break;
        case Argument::Type::Real: line += std::to_string(a.real); break;
        case Argument::Type::Text: line += a.text; break;
      }
      if (a.form == ArgForm::ByReference) line += '&';
    }
    log_->push_back(line);
  }
  HostValue GetIndexed(const std::string& member, std::int32_t index) override {
    log_->push_back(member + "[" + std::to_string(index) + "]");
    return answer;
  }
  NumberFormat Format() const override { return {",", "."}; }

  HostValue answer = HostValue::Text("12,5");

 private:
  std::vector<std::string>* log_;
};

TEST(HostEditorTest, EmptyLinkFailsEveryMember) {
  HostEditor editor;
  const std::function<void()> calls[] = {
      [&] { editor.SystemType(); },
      [&] { editor.StartSelection(); },
      [&] { editor.EndSelection(); },
      [&] { editor.selectline(1, ArgForm::ByReference); },
      [&] { editor.markline(0, 0, ArgForm::ByReference); },
      [&] { editor.step(); },
      [&] { editor.CurrentBlock(19); },
      [&] { editor.add("F", 200); },
  };
  for (const auto& call : calls) {
    try {
      call();
      ADD_FAILURE() << "an empty link answered";
    } catch (const HostError& e) {
      EXPECT_STREQ(e.what(), "Invalid variant operation");
    }
  }
}

TEST(HostEditorTest, MembersReachTheTransportAndConvert) {
  std::vector<std::string> log;
  auto owned = std::make_unique<FakeTransport>(&log);
  FakeTransport* fake = owned.get();
  HostEditor editor;
  editor.Link(std::move(owned));
  ASSERT_TRUE(editor.Linked());

  EXPECT_EQ(editor.CurrentBlock(19), 12.5);  // text in the transport's locale
  fake->answer = HostValue::Real(304.5);
  EXPECT_EQ(editor.SystemType(), 304);
  editor.selectline(5, ArgForm::ByReference);
  editor.markline(5, 1, ArgForm::ByValue);
  editor.add("F", 200);
  editor.step();
  EXPECT_EQ(log, (std::vector<std::string>{"CurrentBlock[19]", "query SystemType",
                                           "selectline 5&", "markline 5 1",
                                           "add F 200.000000&", "step"}));

  editor.Release();
  EXPECT_FALSE(editor.Linked());
  EXPECT_THROW(editor.step(), HostError);
  EXPECT_EQ(log.size(), 6u);
}

TEST(HostEditorTest, HostTextTrimming) {
  struct {
    const char* in;
    const char* out;
  } rows[] = {
      {"Line out of range. . \t\r\n", "Line out of range"},
      {"Done...", "Done"},
      {"ends in a bracket)", "ends in a bracket)"},
      {" .\x01\x7f", ""},
      {"3.5 mm", "3.5 mm"},
  };
  for (const auto& row : rows) EXPECT_EQ(TrimHostText(row.in), row.out) << row.in;
}

// A connector whose two steps succeed, fail by null or throw, as told.
class FakeConnector : public Connector {
 public:
  enum class Outcome { Link, Null, Throw };
  FakeConnector(Outcome running, Outcome create) : running_(running), create_(create) {}
  std::unique_ptr<Transport> GetRunning() override {
    steps.push_back("running");
    return Do(running_);
  }
  std::unique_ptr<Transport> Create() override {
    steps.push_back("create");
    return Do(create_);
  }
  std::vector<std::string> steps;

 private:
  std::unique_ptr<Transport> Do(Outcome o) {
    if (o == Outcome::Throw) throw HostError("some bus failure");
    if (o == Outcome::Null) return nullptr;
    return std::make_unique<FakeTransport>(&log_);
  }
  Outcome running_, create_;
  std::vector<std::string> log_;
};

TEST(AttachSequenceTest, MessagesAndSteps) {
  using O = FakeConnector::Outcome;
  const std::vector<std::string> both = {kNotInstalledText, kUnableToLinkText};
  struct {
    const char* name;
    O running, create;
    bool linked;
    std::vector<std::string> steps, messages;
  } rows[] = {
      {"running host", O::Link, O::Throw, true, {"running"}, {}},
      {"created host", O::Null, O::Link, true, {"running", "create"}, {}},
      {"running step throws", O::Throw, O::Link, true, {"running", "create"}, {}},
      {"nothing installed", O::Null, O::Null, false, {"running", "create"}, both},
      {"both steps throw", O::Throw, O::Throw, false, {"running", "create"}, both},
  };
  for (auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeConnector connector(row.running, row.create);
    HostEditor editor;
    std::vector<std::string> messages;
    EXPECT_EQ(AttachSequence(editor, connector,
                             [&](const std::string& m) { messages.push_back(m); }),
              row.linked);
    EXPECT_EQ(editor.Linked(), row.linked);
    EXPECT_EQ(connector.steps, row.steps);
    EXPECT_EQ(messages, row.messages);
  }
}

}  // namespace
}  // namespace hostlink
