#include "hostlink/com/com_connector.h"

#include <windows.h>
#include <oleauto.h>

#include "hostlink/com/com_transport.h"
#include "hostlink/com/variant_value.h"
#include "hostlink/host_error.h"

namespace hostlink::com {
namespace {

// The attach steps succeed on any success status (unlike member calls).
void Check(HRESULT status) {
  if (FAILED(status)) throw HostError(SystemText(status));
}

template <typename T>
T* NotNull(T* p) {
  if (!p) throw HostError(SystemText(E_POINTER));
  return p;
}

CLSID ClassOf(const std::string& progId) {
  const std::wstring wide = Widen(progId);
  CLSID clsid{};
  Check(CLSIDFromProgID(wide.c_str(), &clsid));
  return clsid;
}

}  // namespace

std::unique_ptr<Transport> ComConnector::GetRunning() {
  const CLSID clsid = ClassOf(progId_);
  IUnknown* object = nullptr;
  Check(GetActiveObject(clsid, nullptr, &object));
  NotNull(object);
  IDispatch* dispatch = nullptr;
  const HRESULT status = object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  object->Release();
  Check(status);
  return std::make_unique<ComTransport>(NotNull(dispatch));
}

std::unique_ptr<Transport> ComConnector::Create() {
  const CLSID clsid = ClassOf(progId_);
  IDispatch* dispatch = nullptr;
  Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                         reinterpret_cast<void**>(&dispatch)));
  return std::make_unique<ComTransport>(NotNull(dispatch));
}

}  // namespace hostlink::com
