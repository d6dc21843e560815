#include "hostlink/host_editor.h"

#include <stdexcept>

#include "hostlink/host_error.h"

namespace hostlink {

std::string TrimHostText(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0) {
    const unsigned char c = static_cast<unsigned char>(text[end - 1]);
    if (c > ' ' && c != '.' && c != 0x7f) break;
    --end;
  }
  return text.substr(0, end);
}

void Transport::Post(const std::string&, const std::vector<Argument>&) {
  throw std::logic_error("this encoding cannot post calls");
}

HostValue Transport::Next() { throw std::logic_error("this encoding cannot post calls"); }

std::string UnknownMemberText(const std::string& member) {
  return "Method '" + member + "' not supported by automation object";
}

Transport& HostEditor::Use() {
  if (!transport_) throw HostError("Invalid variant operation");
  return *transport_;
}

Transport& HostEditor::Ready() {
  Transport& t = Use();
  while (!posted_.empty()) {
    if (posted_.front() != kDeferredMethod) {
      // Reads announced and not taken: nobody wants their answers.
      posted_.clear();
      t.Abandon();
      break;
    }
    Collect();
  }
  return t;
}

void HostEditor::DropUntakenReads() {
  if (!posted_.empty() && posted_.back() != kDeferredMethod) Ready();
}

HostValue HostEditor::Collect() {
  posted_.pop_front();
  try {
    return transport_->Next();
  } catch (...) {
    posted_.clear();
    transport_->Abandon();
    throw;
  }
}

void HostEditor::Post(const std::string& member, const std::vector<Argument>& args,
                      std::int64_t read) {
  try {
    transport_->Post(member, args);
  } catch (...) {
    // An earlier call's own failure comes first (a host that answered with
    // an error and then closed makes the next post fail locally).
    while (!posted_.empty()) Collect();
    transport_->Abandon();
    throw;
  }
  posted_.push_back(read);
}

void HostEditor::Defer(const std::string& member, const std::vector<Argument>& args) {
  Transport& t = Use();
  if (!t.CanPost()) {
    t.Call(member, args);
    return;
  }
  DropUntakenReads();
  Post(member, args, kDeferredMethod);
}

std::int32_t HostEditor::IntegerQuery(const char* member) {
  Transport& t = Ready();
  return t.Query(member).ToInteger(t.Format());
}

std::int32_t HostEditor::SystemType() { return IntegerQuery("SystemType"); }
std::int32_t HostEditor::StartSelection() { return IntegerQuery("StartSelection"); }
std::int32_t HostEditor::EndSelection() { return IntegerQuery("EndSelection"); }

void HostEditor::selectline(std::int32_t line, ArgForm form) {
  Transport& t = Use();
  DropUntakenReads();
  if (posted_.empty()) {
    t.Call("selectline", {Argument::Int(line, form)});
    return;
  }
  // A selection changes no text: it may follow deferred calls unanswered,
  // and all are collected in one wait, the earliest failure first.
  Post("selectline", {Argument::Int(line, form)}, kDeferredMethod);
  while (!posted_.empty()) Collect();
}

void HostEditor::markline(std::int32_t line, std::int32_t mark, ArgForm lineForm) {
  Ready().Call("markline", {Argument::Int(line, lineForm), Argument::Int(mark)});
}

void HostEditor::step() { Ready().Call("step", {}); }

double HostEditor::CurrentBlock(std::int32_t index) {
  Transport& t = Use();
  // Deferred calls come first, in order; then the read, announced or not.
  while (!posted_.empty() && posted_.front() == kDeferredMethod) Collect();
  if (!posted_.empty()) {
    if (posted_.front() == index) return Collect().ToReal(t.Format());
    Ready();  // not the read announced: drop the announcement
  }
  return t.GetIndexed("CurrentBlock", index).ToReal(t.Format());
}

void HostEditor::add(const std::string& letter, double value) {
  // A copy of the caller's value travels; the host never sees the original.
  Ready().Call("add", {Argument::Text(letter), Argument::Double(value, ArgForm::ByReference)});
}

void HostEditor::stepDeferred() { Defer("step", {}); }

void HostEditor::selectlineDeferred(std::int32_t line, ArgForm form) {
  Defer("selectline", {Argument::Int(line, form)});
}

void HostEditor::marklineDeferred(std::int32_t line, std::int32_t mark, ArgForm lineForm) {
  Defer("markline", {Argument::Int(line, lineForm), Argument::Int(mark)});
}

void HostEditor::AnnounceReads(const std::int32_t* indices, std::size_t count) {
  Transport& t = Use();
  if (!t.CanPost()) return;
  DropUntakenReads();
  for (std::size_t i = 0; i < count; ++i) {
    Post("CurrentBlock", {Argument::Int(indices[i])}, indices[i]);
  }
}

void HostEditor::Settle() {
  if (transport_) Ready();
}

}  // namespace hostlink
