// The COM test host's automation object: an IDispatch serving the eight
// host members from the reference editor's core, with the scripted answers,
// faults and call record of a HostScript.
#ifndef HOSTLINK_TESTHOST_COM_COM_HOST_H_
#define HOSTLINK_TESTHOST_COM_COM_HOST_H_

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "hostlink/testhost/host_script.h"
#include "refhost/core/automation.h"
#include "refhost/core/document.h"

namespace comhost {

// {6B1F3A52-8C0D-4E57-9A41-2D7C5E0B9F13}, registered under "norvane.norvanex".
inline constexpr CLSID kClsid = {0x6b1f3a52, 0x8c0d, 0x4e57,
                                 {0x9a, 0x41, 0x2d, 0x7c, 0x5e, 0x0b, 0x9f, 0x13}};

struct HostOptions {
  testhost::HostScript script;
  std::string program;    // NC program text
  std::string recordPath; // empty: no record
  bool writeBack = false; // write into by-reference arguments
  bool rotWithoutDispatch = false;  // the running object table gets an object without IDispatch
};

// Serves SystemType, StartSelection, EndSelection, selectline, markline,
// step, CurrentBlock, add (names matched without regard to case) and the
// non-members Quit and Save. Answers come from refhost::Automation unless a
// rule of the script says otherwise; an AutomationError becomes
// DISP_E_EXCEPTION with its text as the description. Single-threaded: every
// call arrives on the thread that made the object.
class HostObject final : public IDispatch {
 public:
  // `onQuit` runs after a Quit call or the quit-after count; `onChange(false)`
  // after every call that changed the document, `onChange(true)` on Save.
  HostObject(HostOptions options, std::function<void()> onQuit,
             std::function<void(bool now)> onChange);
  ~HostObject();

  const refhost::Document& Document() const { return document_; }
  bool RotWithoutDispatch() const { return options_.rotWithoutDispatch; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argError) override;

 private:
  HRESULT Serve(DISPID id, const std::string& member, WORD flags, DISPPARAMS* params,
                VARIANT* result, EXCEPINFO* exception, UINT* argError);
  const testhost::Rule* RuleFor(const std::string& member, const std::int32_t* index) const;
  void Record(const std::string& line);

  LONG refs_ = 1;
  HostOptions options_;
  refhost::Document document_;
  refhost::Automation automation_;
  std::function<void()> onQuit_;
  std::function<void(bool now)> onChange_;
  std::FILE* record_ = nullptr;
  std::map<std::string, std::int64_t> calls_;  // Invoke calls per member
  std::int64_t served_ = 0;
};

// "I4&:5", "BSTR:F", "R8:0.1": a VARIANT as the record writes it.
std::string DescribeVariant(const VARIANT& value);

}  // namespace comhost

#endif  // HOSTLINK_TESTHOST_COM_COM_HOST_H_
