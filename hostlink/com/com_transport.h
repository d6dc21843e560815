// Member calls encoded as late-bound COM calls on the host's IDispatch.
#ifndef HOSTLINK_COM_COM_TRANSPORT_H_
#define HOSTLINK_COM_COM_TRANSPORT_H_

#include <oaidl.h>

#include "hostlink/transport.h"

namespace hostlink::com {

// Every call asks the host for the member's dispatch identifier
// (GetIDsOfNames: one name, IID_NULL, the thread's locale) and then makes
// one Invoke (IID_NULL, locale 0, positional arguments last first, no
// argument-error index). Nothing is cached or retried; only S_OK succeeds.
// Text results are read with the user's number format (UserNumberFormat(),
// taken when the transport is made).
//
// Owns one reference to the dispatch object; destroy it on the thread that
// made it, before that thread leaves its apartment.
class ComTransport : public Transport {
 public:
  // Takes over the caller's reference to `dispatch` (not null).
  explicit ComTransport(IDispatch* dispatch);
  ~ComTransport() override;
  ComTransport(const ComTransport&) = delete;
  ComTransport& operator=(const ComTransport&) = delete;

  // DISPATCH_METHOD | DISPATCH_PROPERTYGET, with a result.
  HostValue Query(const std::string& member) override;
  // DISPATCH_METHOD, no result. Int32 and Real arguments are VT_I4 / VT_R8,
  // with VT_BYREF for ArgForm::ByReference pointing at a copy of the value
  // made for this call; Text is VT_BSTR.
  void Call(const std::string& member, const std::vector<Argument>& args) override;
  // DISPATCH_PROPERTYGET with the index as VT_I4, with a result.
  HostValue GetIndexed(const std::string& member, std::int32_t index) override;
  NumberFormat Format() const override { return format_; }

 private:
  HostValue Invoke(const std::string& member, unsigned short flags,
                   const std::vector<Argument>& args, bool wantResult);

  IDispatch* dispatch_;
  NumberFormat format_;
};

// The HostError text for a failed Invoke of `member` with `status`;
// `exception` is read only for DISP_E_EXCEPTION.
std::string InvokeErrorText(HRESULT status, const EXCEPINFO& exception);

}  // namespace hostlink::com

#endif  // HOSTLINK_COM_COM_TRANSPORT_H_
