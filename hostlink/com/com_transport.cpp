#include "hostlink/com/com_transport.h"

#include <windows.h>
#include <oleauto.h>

#include "hostlink/com/variant_value.h"
#include "hostlink/host_error.h"

namespace hostlink::com {
namespace {

// Frees the strings a host left in an EXCEPINFO.
struct ExcepInfo {
  EXCEPINFO info{};
  ~ExcepInfo() {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
};

// Owns the VARIANTs of a call's arguments and the copies that by-reference
// arguments point at.
class Arguments {
 public:
  explicit Arguments(const std::vector<Argument>& args)
      : variants_(args.size()), ints_(args.size()), reals_(args.size()) {
    for (VARIANTARG& v : variants_) VariantInit(&v);
    const std::size_t n = args.size();
    for (std::size_t i = 0; i < n; ++i) {
      const Argument& a = args[i];
      VARIANTARG& v = variants_[n - 1 - i];  // Invoke takes them last first
      const bool byRef = a.form == ArgForm::ByReference;
      switch (a.type) {
        case Argument::Type::Int32:
          ints_[i] = a.int32;
          if (byRef) {
            V_VT(&v) = VT_I4 | VT_BYREF;
            V_I4REF(&v) = &ints_[i];
          } else {
            V_VT(&v) = VT_I4;
            V_I4(&v) = a.int32;
          }
          break;
        case Argument::Type::Real:
          reals_[i] = a.real;
          if (byRef) {
            V_VT(&v) = VT_R8 | VT_BYREF;
            V_R8REF(&v) = &reals_[i];
          } else {
            V_VT(&v) = VT_R8;
            V_R8(&v) = a.real;
          }
          break;
        case Argument::Type::Text: {
          const std::wstring wide = Widen(a.text);
          const BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
          if (!text) {
            FreeStrings();
            throw HostError(SystemText(E_OUTOFMEMORY));
          }
          V_VT(&v) = VT_BSTR;
          V_BSTR(&v) = text;
          break;
        }
      }
    }
  }
  ~Arguments() { FreeStrings(); }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  DISPPARAMS Params() {
    DISPPARAMS p{};
    p.rgvarg = variants_.empty() ? nullptr : variants_.data();
    p.cArgs = static_cast<UINT>(variants_.size());
    return p;
  }

 private:
  void FreeStrings() {
    for (VARIANTARG& v : variants_) {
      if (V_VT(&v) == VT_BSTR) SysFreeString(V_BSTR(&v));
      V_VT(&v) = VT_EMPTY;
    }
  }

  std::vector<VARIANTARG> variants_;
  std::vector<LONG> ints_;    // by argument position
  std::vector<double> reals_;
};

struct Result {
  VARIANT value;
  Result() { VariantInit(&value); }
  ~Result() { VariantClear(&value); }
};

}  // namespace

std::string InvokeErrorText(HRESULT status, const EXCEPINFO& exception) {
  if (status != DISP_E_EXCEPTION) return SystemText(status);
  const BSTR d = exception.bstrDescription;
  std::string text = TrimHostText(Narrow(d, d ? SysStringLen(d) : 0));
  if (text.empty()) {
    // The host's code: scode, else the status its application code wCode
    // stands for (FACILITY_ITF, from 0x80040200); a host that gave neither
    // gets the text of DISP_E_EXCEPTION itself.
    HRESULT code = exception.scode;
    if (code == 0) {
      code = exception.wCode != 0 ? static_cast<HRESULT>(0x80040200u + exception.wCode) : DISP_E_EXCEPTION;
    }
    text = SystemText(code);
  }
  return text;
}

ComTransport::ComTransport(IDispatch* dispatch)
    : dispatch_(dispatch), format_(UserNumberFormat()) {}

ComTransport::~ComTransport() {
  if (dispatch_) dispatch_->Release();
}

HostValue ComTransport::Invoke(const std::string& member, unsigned short flags,
                               const std::vector<Argument>& args, bool wantResult) {
  std::wstring name = Widen(member);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT status = dispatch_->GetIDsOfNames(IID_NULL, names, 1, GetThreadLocale(), &id);
  if (status == DISP_E_UNKNOWNNAME) {
    throw HostError(UnknownMemberText(member));
  }
  if (status != S_OK) throw HostError(SystemText(status));

  Arguments arguments(args);
  DISPPARAMS params = arguments.Params();
  Result result;
  ExcepInfo exception;
  status = dispatch_->Invoke(id, IID_NULL, 0, flags, &params,
                             wantResult ? &result.value : nullptr, &exception.info, nullptr);
  if (status != S_OK) {
    if (status == DISP_E_EXCEPTION && exception.info.pfnDeferredFillIn) {
      exception.info.pfnDeferredFillIn(&exception.info);
    }
    throw HostError(InvokeErrorText(status, exception.info));
  }
  return wantResult ? ToHostValue(result.value) : HostValue::Empty();
}

HostValue ComTransport::Query(const std::string& member) {
  return Invoke(member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, true);
}

void ComTransport::Call(const std::string& member, const std::vector<Argument>& args) {
  Invoke(member, DISPATCH_METHOD, args, false);
}

HostValue ComTransport::GetIndexed(const std::string& member, std::int32_t index) {
  return Invoke(member, DISPATCH_PROPERTYGET, {Argument::Int(index)}, true);
}

}  // namespace hostlink::com
