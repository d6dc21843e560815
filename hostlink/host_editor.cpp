#include "hostlink/host_editor.h"

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

Transport& HostEditor::Use() {
  if (!transport_) throw HostError("Invalid variant operation");
  return *transport_;
}

std::int32_t HostEditor::IntegerQuery(const char* member) {
  Transport& t = Use();
  return t.Query(member).ToInteger(t.Format());
}

std::int32_t HostEditor::SystemType() { return IntegerQuery("SystemType"); }
std::int32_t HostEditor::StartSelection() { return IntegerQuery("StartSelection"); }
std::int32_t HostEditor::EndSelection() { return IntegerQuery("EndSelection"); }

void HostEditor::selectline(std::int32_t line, ArgForm form) {
  Use().Call("selectline", {Argument::Int(line, form)});
}

void HostEditor::markline(std::int32_t line, std::int32_t mark, ArgForm lineForm) {
  Use().Call("markline", {Argument::Int(line, lineForm), Argument::Int(mark)});
}

void HostEditor::step() { Use().Call("step", {}); }

double HostEditor::CurrentBlock(std::int32_t index) {
  Transport& t = Use();
  return t.GetIndexed("CurrentBlock", index).ToReal(t.Format());
}

void HostEditor::add(const std::string& letter, double value) {
  // A copy of the caller's value travels; the host never sees the original.
  Use().Call("add", {Argument::Text(letter), Argument::Double(value, ArgForm::ByReference)});
}

}  // namespace hostlink
