// VARIANT results as host values, system texts for COM statuses, and the
// user's number format.
#ifndef HOSTLINK_COM_VARIANT_VALUE_H_
#define HOSTLINK_COM_VARIANT_VALUE_H_

#include <oaidl.h>

#include <string>

#include "hostlink/host_value.h"

namespace hostlink::com {

// The kind a VARIANT converts as (the neutral rules of host_value.h apply):
//
// | VARIANT                           | kind                                  |
// |-----------------------------------|---------------------------------------|
// | VT_EMPTY, VT_NULL                 | Empty, Null                           |
// | VT_UI1, VT_I2, VT_UI2             | Byte, SmallInt, Word                  |
// | VT_I1                             | SmallInt                              |
// | VT_I4, VT_INT / VT_UI4, VT_UINT   | Integer / LongWord                    |
// | VT_I8, VT_UI8                     | Int64, UInt64                         |
// | VT_R8, VT_R4 (widened), VT_DATE,  | Double                                |
// | VT_CY (units / 10000), VT_DECIMAL |                                       |
// | VT_BOOL                           | Boolean                               |
// | VT_BSTR                           | OleStr (UTF-16 to UTF-8)              |
// | anything else (arrays, VT_ERROR,  | Unknown                               |
// | VT_DISPATCH, VT_UNKNOWN, ...)     |                                       |
//
// VT_BYREF values are read through their pointer (a null one is Unknown).
HostValue ToHostValue(const VARIANT& value);

// The system's message text for `status` (FormatMessage, at most 256
// characters, trailing blanks, line breaks and periods cut off), or
// "OLE error %.8x" when the system has none.
std::string SystemText(HRESULT status);

// The user's decimal and group separators (GetLocaleInfo, user default);
// the group separator is empty when the locale groups no digits.
NumberFormat UserNumberFormat();

// UTF-8 <-> UTF-16. Invalid sequences become U+FFFD.
std::string Narrow(const wchar_t* text, std::size_t length);
std::wstring Widen(const std::string& utf8);

}  // namespace hostlink::com

#endif  // HOSTLINK_COM_VARIANT_VALUE_H_
