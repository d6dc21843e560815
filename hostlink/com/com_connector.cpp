#include "hostlink/com/com_connector.h"

#include <windows.h>
#include <oleauto.h>

#include "hostlink/com/com_transport.h"
#include "hostlink/com/variant_value.h"
#include "hostlink/host_error.h"

namespace hostlink::com {
namespace {

void Check(HRESULT status) {
  if (status != S_OK) throw HostError(SystemText(status));
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
  IDispatch* dispatch = nullptr;
  const HRESULT status = object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  object->Release();
  Check(status);
  return std::make_unique<ComTransport>(dispatch);
}

std::unique_ptr<Transport> ComConnector::Create() {
  const CLSID clsid = ClassOf(progId_);
  IDispatch* dispatch = nullptr;
  Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                         reinterpret_cast<void**>(&dispatch)));
  return std::make_unique<ComTransport>(dispatch);
}

}  // namespace hostlink::com
