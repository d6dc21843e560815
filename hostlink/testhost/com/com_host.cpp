#include "hostlink/testhost/com/com_host.h"

#include <oleauto.h>

#include <charconv>
#include <cstdlib>
#include <cwctype>

namespace comhost {
namespace {

enum Member : DISPID {
  kSystemType = 1,
  kStartSelection,
  kEndSelection,
  kSelectline,
  kMarkline,
  kStep,
  kCurrentBlock,
  kAdd,
  kQuit = 100,
  kSave,
};

struct Entry {
  const char* name;
  DISPID id;
};
constexpr Entry kMembers[] = {
    {"SystemType", kSystemType},     {"StartSelection", kStartSelection},
    {"EndSelection", kEndSelection}, {"selectline", kSelectline},
    {"markline", kMarkline},         {"step", kStep},
    {"CurrentBlock", kCurrentBlock}, {"add", kAdd},
    {"Quit", kQuit},                 {"Save", kSave},
};

std::string Narrow(const wchar_t* text, std::size_t length) {
  if (!text || length == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr,
                        nullptr);
  }
  return out;
}

BSTR ToBstr(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n > 0 ? n : 0));
  if (b && n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), b, n);
  }
  return b;
}

bool SameName(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (std::towlower(static_cast<unsigned char>(a[i])) !=
        std::towlower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

const char* NameOf(DISPID id) {
  for (const Entry& e : kMembers) {
    if (e.id == id) return e.name;
  }
  return nullptr;
}

std::string Num(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string FlagsText(WORD flags) {
  std::string out;
  auto add = [&](WORD bit, const char* name) {
    if (!(flags & bit)) return;
    if (!out.empty()) out += '|';
    out += name;
  };
  add(DISPATCH_METHOD, "method");
  add(DISPATCH_PROPERTYGET, "get");
  add(DISPATCH_PROPERTYPUT, "put");
  add(DISPATCH_PROPERTYPUTREF, "putref");
  return out.empty() ? "0" : out;
}

const char* TypeName(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_NULL: return "NULL";
    case VT_I1: return "I1";
    case VT_UI1: return "UI1";
    case VT_I2: return "I2";
    case VT_UI2: return "UI2";
    case VT_I4: return "I4";
    case VT_UI4: return "UI4";
    case VT_INT: return "INT";
    case VT_UINT: return "UINT";
    case VT_I8: return "I8";
    case VT_UI8: return "UI8";
    case VT_R4: return "R4";
    case VT_R8: return "R8";
    case VT_CY: return "CY";
    case VT_DATE: return "DATE";
    case VT_BSTR: return "BSTR";
    case VT_BOOL: return "BOOL";
    case VT_ERROR: return "ERROR";
    case VT_VARIANT: return "VARIANT";
    case VT_DISPATCH: return "DISPATCH";
    case VT_UNKNOWN: return "UNKNOWN";
    case VT_DECIMAL: return "DECIMAL";
    default: return nullptr;
  }
}

// Builds the answer of a value rule (type tokens in README.md); false for an
// unknown token.
bool MakeValue(const std::string& type, const std::string& text, IDispatch* self,
               VARIANT* out) {
  VariantInit(out);
  const char* s = text.c_str();
  auto i64 = [&] { return std::strtoll(s, nullptr, 0); };
  auto u64 = [&] { return std::strtoull(s, nullptr, 0); };
  auto real = [&] { return std::strtod(s, nullptr); };
  if (type == "empty" || type == "none") return true;
  if (type == "null") { V_VT(out) = VT_NULL; return true; }
  if (type == "i1") { V_VT(out) = VT_I1; V_I1(out) = static_cast<CHAR>(i64()); return true; }
  if (type == "ui1") { V_VT(out) = VT_UI1; V_UI1(out) = static_cast<BYTE>(u64()); return true; }
  if (type == "i2") { V_VT(out) = VT_I2; V_I2(out) = static_cast<SHORT>(i64()); return true; }
  if (type == "ui2") { V_VT(out) = VT_UI2; V_UI2(out) = static_cast<USHORT>(u64()); return true; }
  if (type == "i4") { V_VT(out) = VT_I4; V_I4(out) = static_cast<LONG>(i64()); return true; }
  if (type == "ui4") { V_VT(out) = VT_UI4; V_UI4(out) = static_cast<ULONG>(u64()); return true; }
  if (type == "int") { V_VT(out) = VT_INT; V_INT(out) = static_cast<INT>(i64()); return true; }
  if (type == "uint") { V_VT(out) = VT_UINT; V_UINT(out) = static_cast<UINT>(u64()); return true; }
  if (type == "i8") { V_VT(out) = VT_I8; V_I8(out) = i64(); return true; }
  if (type == "ui8") { V_VT(out) = VT_UI8; V_UI8(out) = u64(); return true; }
  if (type == "r4") { V_VT(out) = VT_R4; V_R4(out) = static_cast<float>(real()); return true; }
  if (type == "r8") { V_VT(out) = VT_R8; V_R8(out) = real(); return true; }
  if (type == "date") { V_VT(out) = VT_DATE; V_DATE(out) = real(); return true; }
  if (type == "cy") {  // TEXT is in units; the variant holds ten-thousandths
    V_VT(out) = VT_CY;
    V_CY(out).int64 = static_cast<LONGLONG>(real() * 10000.0);
    return true;
  }
  if (type == "decimal") {
    V_VT(out) = VT_DECIMAL;
    return SUCCEEDED(VarDecFromR8(real(), &V_DECIMAL(out)));
  }
  if (type == "bool") {
    V_VT(out) = VT_BOOL;
    V_BOOL(out) = (text == "true" || text == "1") ? VARIANT_TRUE : VARIANT_FALSE;
    return true;
  }
  if (type == "bstr") { V_VT(out) = VT_BSTR; V_BSTR(out) = ToBstr(text); return true; }
  if (type == "error") { V_VT(out) = VT_ERROR; V_ERROR(out) = static_cast<SCODE>(u64()); return true; }
  if (type == "dispatch") {
    self->AddRef();
    V_VT(out) = VT_DISPATCH;
    V_DISPATCH(out) = self;
    return true;
  }
  if (type == "array") {
    SAFEARRAY* a = SafeArrayCreateVector(VT_I4, 0, 2);
    if (!a) return false;
    LONG* data = nullptr;
    SafeArrayAccessData(a, reinterpret_cast<void**>(&data));
    data[0] = 1;
    data[1] = 2;
    SafeArrayUnaccessData(a);
    V_VT(out) = VT_ARRAY | VT_I4;
    V_ARRAY(out) = a;
    return true;
  }
  return false;
}

HRESULT ParseCode(const std::string& text) {
  return static_cast<HRESULT>(std::strtoul(text.c_str(), nullptr, 0));
}

}  // namespace

std::string DescribeVariant(const VARIANT& value) {
  const bool byRef = (V_VT(&value) & VT_BYREF) != 0;
  const VARTYPE base = V_VT(&value) & ~VT_BYREF;
  char hex[16];
  std::snprintf(hex, sizeof hex, "VT%.4x", static_cast<unsigned>(base));
  const char* name = TypeName(base);
  std::string out(name ? name : hex);
  if (byRef) out += '&';
  if (base == VT_EMPTY || base == VT_NULL) return out;
  VARIANT plain;
  VariantInit(&plain);
  if (FAILED(VariantCopyInd(&plain, const_cast<VARIANT*>(&value)))) return out.append(":?");
  std::string shown;
  if (base == VT_R8 || base == VT_R4 || base == VT_DATE) {
    VARIANT r;
    VariantInit(&r);
    if (SUCCEEDED(VariantChangeType(&r, &plain, 0, VT_R8))) shown = Num(V_R8(&r));
  } else if (base == VT_BSTR) {
    shown = Narrow(V_BSTR(&plain), V_BSTR(&plain) ? SysStringLen(V_BSTR(&plain)) : 0);
  } else {
    VARIANT t;
    VariantInit(&t);
    if (SUCCEEDED(VariantChangeType(&t, &plain, 0, VT_BSTR))) {
      shown = Narrow(V_BSTR(&t), SysStringLen(V_BSTR(&t)));
    } else {
      shown.push_back('?');
    }
    VariantClear(&t);
  }
  VariantClear(&plain);
  return out + ':' + shown;
}

HostObject::HostObject(HostOptions options, std::function<void()> onQuit,
                       std::function<void(bool now)> onChange)
    : options_(std::move(options)),
      automation_(document_),
      onQuit_(std::move(onQuit)),
      onChange_(std::move(onChange)) {
  document_.Load(options_.program);
  automation_.SetSystemType(refhost::GuessSystemType(document_));
  automation_.SetSelection(1, document_.LineCount());
  if (!options_.recordPath.empty()) record_ = std::fopen(options_.recordPath.c_str(), "wb");
}

HostObject::~HostObject() {
  if (record_) std::fclose(record_);
}

void HostObject::Record(const std::string& line) {
  if (!record_) return;
  std::fputs(line.c_str(), record_);
  std::fputc('\n', record_);
  std::fflush(record_);
}

HRESULT HostObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG HostObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG HostObject::Release() {
  const LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

HRESULT HostObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT HostObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

const testhost::Rule* HostObject::RuleFor(const std::string& member,
                                          const std::int32_t* index) const {
  auto it = calls_.find(member);
  const std::int64_t nth = (it == calls_.end() ? 0 : it->second) + 1;
  const testhost::Rule* found = nullptr;
  for (const testhost::Rule& r : options_.script.rules) {
    if (r.member != member) continue;
    if (r.index && (!index || *r.index != *index)) continue;
    if (r.nth && *r.nth != nth) continue;
    found = &r;
  }
  return found;
}

HRESULT HostObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  const std::string name = Narrow(names[0], names[0] ? wcslen(names[0]) : 0);
  Record("names " + name);
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  for (const Entry& e : kMembers) {
    if (!SameName(name, e.name)) continue;
    const testhost::Rule* rule = RuleFor(e.name, nullptr);
    if (rule && rule->kind == testhost::Rule::Kind::Error && rule->errorName.rfind("names:", 0) == 0) {
      return ParseCode(rule->errorName.substr(6));
    }
    ids[0] = e.id;
    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;  // no named arguments
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT HostObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  const char* name = NameOf(id);
  if (!name) return DISP_E_MEMBERNOTFOUND;
  const std::string member = name;
  std::string line = "invoke " + member + " " + FlagsText(flags);
  if (params) {
    for (UINT i = params->cArgs; i > 0; --i) {
      line.push_back(' ');
      line.append(DescribeVariant(params->rgvarg[i - 1]));
    }
    if (params->cNamedArgs) line.append(" named:").append(std::to_string(params->cNamedArgs));
  }
  Record(line);
  if (result) VariantInit(result);
  const std::uint64_t revision = document_.Revision();
  const HRESULT status = Serve(id, member, flags, params, result, exception, argError);
  ++served_;
  if (document_.Revision() != revision || id == kMarkline) onChange_(false);
  if (options_.script.quitAfter && served_ >= *options_.script.quitAfter) onQuit_();
  return status;
}

HRESULT HostObject::Serve(DISPID id, const std::string& member, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  const testhost::HostScript& script = options_.script;
  const bool query = id == kSystemType || id == kStartSelection || id == kEndSelection;
  const bool allowed =
      query ? (((flags & DISPATCH_METHOD) && script.queryMethods) ||
               ((flags & DISPATCH_PROPERTYGET) && script.queryProperties))
      : id == kCurrentBlock ? (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) != 0
                            : (flags & DISPATCH_METHOD) != 0;
  if (!allowed) return DISP_E_MEMBERNOTFOUND;
  if (params && params->cNamedArgs) return DISP_E_NONAMEDARGS;

  UINT want = 0;
  switch (id) {
    case kSelectline: case kCurrentBlock: want = 1; break;
    case kMarkline: case kAdd: want = 2; break;
    default: break;
  }
  const UINT have = params ? params->cArgs : 0;
  if (have != want) return DISP_E_BADPARAMCOUNT;

  // Arguments in the caller's order, converted to what the member takes.
  std::int32_t ints[2] = {0, 0};
  double real = 0.0;
  std::string letter;
  for (UINT i = 0; i < have; ++i) {
    VARIANT& arg = params->rgvarg[have - 1 - i];
    VARTYPE target = VT_I4;
    if (id == kAdd) target = i == 0 ? VT_BSTR : VT_R8;
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantChangeType(&v, &arg, 0, target))) {
      if (argError) *argError = have - 1 - i;
      return DISP_E_TYPEMISMATCH;
    }
    if (target == VT_I4) ints[i] = V_I4(&v);
    if (target == VT_R8) real = V_R8(&v);
    if (target == VT_BSTR) letter = Narrow(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
    VariantClear(&v);
  }

  const std::int32_t* index = id == kCurrentBlock ? &ints[0] : nullptr;
  const testhost::Rule* rule = RuleFor(member, index);
  ++calls_[member];
  if (rule && rule->kind == testhost::Rule::Kind::Error &&
      rule->errorName.rfind("names:", 0) != 0) {
    if (rule->errorName.rfind("exception:", 0) == 0) {
      if (exception) {
        *exception = EXCEPINFO{};
        exception->bstrSource = ToBstr("norvane.norvanex");
        exception->bstrDescription = ToBstr(rule->value);
        exception->scode = ParseCode(rule->errorName.substr(10));
      }
      return DISP_E_EXCEPTION;
    }
    if (rule->errorName.rfind("wcode:", 0) == 0) {
      if (exception) {
        *exception = EXCEPINFO{};
        exception->bstrSource = ToBstr("norvane.norvanex");
        exception->wCode = static_cast<WORD>(ParseCode(rule->errorName.substr(6)));
      }
      return DISP_E_EXCEPTION;
    }
    return ParseCode(rule->errorName);
  }

  VARIANT answer;
  VariantInit(&answer);
  try {
    switch (id) {
      case kSystemType:
        V_VT(&answer) = VT_I4;
        V_I4(&answer) = script.systemType != 0 ? script.systemType : automation_.SystemType();
        break;
      case kStartSelection:
        V_VT(&answer) = VT_I4;
        V_I4(&answer) = script.selectionStart.value_or(automation_.StartSelection());
        break;
      case kEndSelection:
        V_VT(&answer) = VT_I4;
        V_I4(&answer) = script.selectionEnd.value_or(automation_.EndSelection());
        break;
      case kSelectline: automation_.selectline(ints[0]); break;
      case kMarkline: automation_.markline(ints[0], ints[1]); break;
      case kStep: automation_.step(); break;
      case kCurrentBlock:
        V_VT(&answer) = VT_R8;
        V_R8(&answer) = automation_.CurrentBlock(ints[0]);
        break;
      case kAdd: automation_.add(letter, real); break;
      case kQuit: onQuit_(); break;
      case kSave: onChange_(true); break;
      default: return DISP_E_MEMBERNOTFOUND;
    }
  } catch (const std::exception& e) {
    if (exception) {
      *exception = EXCEPINFO{};
      exception->bstrSource = ToBstr("norvane.norvanex");
      exception->bstrDescription = ToBstr(e.what());
      exception->scode = E_FAIL;
    }
    return DISP_E_EXCEPTION;
  }

  if (options_.writeBack) {
    for (UINT i = 0; i < have; ++i) {
      VARIANT& arg = params->rgvarg[i];
      if (V_VT(&arg) == (VT_I4 | VT_BYREF) && V_I4REF(&arg)) *V_I4REF(&arg) = -7777;
      if (V_VT(&arg) == (VT_R8 | VT_BYREF) && V_R8REF(&arg)) *V_R8REF(&arg) = -7777.5;
    }
  }
  if (rule && rule->kind == testhost::Rule::Kind::Value) {
    VariantClear(&answer);
    if (!MakeValue(rule->type, rule->value, this, &answer)) return E_INVALIDARG;
  }
  if (result) {
    *result = answer;  // the caller owns it now
  } else {
    VariantClear(&answer);
  }
  return S_OK;
}

}  // namespace comhost
