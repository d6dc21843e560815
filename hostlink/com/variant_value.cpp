#include "hostlink/com/variant_value.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>

#include "hostlink/transport.h"

namespace hostlink::com {

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

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  }
  return out;
}

HostValue ToHostValue(const VARIANT& value) {
  const VARTYPE vt = V_VT(&value);
  if (vt & (VT_ARRAY | VT_VECTOR)) return HostValue::Unknown();
  if (vt == (VT_VARIANT | VT_BYREF)) {
    const VARIANT* inner = V_VARIANTREF(&value);
    return inner ? ToHostValue(*inner) : HostValue::Unknown();
  }
  if (vt & VT_BYREF) {
    if (!V_BYREF(&value)) return HostValue::Unknown();
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantCopyInd(&copy, const_cast<VARIANT*>(&value)))) return HostValue::Unknown();
    HostValue out = ToHostValue(copy);
    VariantClear(&copy);
    return out;
  }
  switch (vt) {
    case VT_EMPTY: return HostValue::Empty();
    case VT_NULL: return HostValue::Null();
    case VT_UI1: return HostValue::Unsigned(ValueKind::Byte, V_UI1(&value));
    case VT_I1: return HostValue::Signed(ValueKind::SmallInt, V_I1(&value));
    case VT_I2: return HostValue::Signed(ValueKind::SmallInt, V_I2(&value));
    case VT_UI2: return HostValue::Unsigned(ValueKind::Word, V_UI2(&value));
    case VT_I4: return HostValue::Signed(ValueKind::Integer, V_I4(&value));
    case VT_INT: return HostValue::Signed(ValueKind::Integer, V_INT(&value));
    case VT_UI4: return HostValue::Unsigned(ValueKind::LongWord, V_UI4(&value));
    case VT_UINT: return HostValue::Unsigned(ValueKind::LongWord, V_UINT(&value));
    case VT_I8: return HostValue::Signed(ValueKind::Int64, V_I8(&value));
    case VT_UI8: return HostValue::Unsigned(ValueKind::UInt64, V_UI8(&value));
    case VT_R4: return HostValue::Real(static_cast<double>(V_R4(&value)));
    case VT_R8: return HostValue::Real(V_R8(&value));
    case VT_DATE: return HostValue::Real(V_DATE(&value));
    case VT_CY: return HostValue::Real(static_cast<double>(V_CY(&value).int64) / 10000.0);
    case VT_DECIMAL: {
      double d = 0.0;
      if (FAILED(VarR8FromDec(const_cast<DECIMAL*>(&V_DECIMAL(&value)), &d))) return HostValue::Unknown();
      return HostValue::Real(d);
    }
    case VT_BOOL: return HostValue::Boolean(V_BOOL(&value) != VARIANT_FALSE);
    case VT_BSTR: {
      const BSTR s = V_BSTR(&value);
      return HostValue::Text(Narrow(s, s ? SysStringLen(s) : 0));
    }
    default: return HostValue::Unknown();
  }
}

std::string SystemText(HRESULT status) {
  wchar_t buffer[256];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(status), 0, buffer,
                                 sizeof buffer / sizeof buffer[0], nullptr);
  std::string text = n > 0 ? TrimHostText(Narrow(buffer, n)) : std::string();
  if (text.empty()) {
    char fallback[32];
    std::snprintf(fallback, sizeof fallback, "OLE error %.8lx",
                  static_cast<unsigned long>(static_cast<DWORD>(status)));
    text = fallback;
  }
  return text;
}

NumberFormat UserNumberFormat() {
  auto info = [](LCTYPE type) {
    wchar_t buffer[16] = {};
    const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 16);
    return n > 1 ? Narrow(buffer, static_cast<std::size_t>(n - 1)) : std::string();
  };
  NumberFormat format;
  const std::string decimal = info(LOCALE_SDECIMAL);
  if (!decimal.empty()) format.decimal = decimal;
  format.group = info(LOCALE_STHOUSAND);
  if (info(LOCALE_SGROUPING).rfind("0", 0) == 0) format.group.clear();
  return format;
}

}  // namespace hostlink::com
