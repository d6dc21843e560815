// The COM test hosts a test leaves behind: a copy of brevand.exe that was
// killed never releases the host it created, which then stays in the
// running object table and would answer the next test's attach.
#ifndef SHELL_WIN32_TESTS_COM_HOSTS_H_
#define SHELL_WIN32_TESTS_COM_HOSTS_H_

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include "shell/win32/tests/ui_driver.h"

namespace uitest {

// Whether a host of "norvane.norvanex" is in the running object table. The
// thread must be in an apartment.
inline bool HostRuns() {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"norvane.norvanex", &clsid))) return false;
  IUnknown* running = nullptr;
  if (FAILED(GetActiveObject(clsid, nullptr, &running)) || running == nullptr) return false;
  running->Release();
  return true;
}

// Ends every running host through its Quit member; true once none is left
// (within `timeoutMs`). The thread must be in an apartment.
inline bool QuitRunningHosts(DWORD timeoutMs = 30000) {
  return WaitUntil(
      [] {
        CLSID clsid;
        if (FAILED(CLSIDFromProgID(L"norvane.norvanex", &clsid))) return true;
        IUnknown* running = nullptr;
        if (FAILED(GetActiveObject(clsid, nullptr, &running)) || running == nullptr) return true;
        IDispatch* host = nullptr;
        if (SUCCEEDED(running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&host))) && host) {
          wchar_t quit[] = L"Quit";
          LPOLESTR name = quit;
          DISPID id = 0;
          if (SUCCEEDED(host->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) {
            DISPPARAMS none{};
            host->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
          }
          host->Release();
        }
        running->Release();
        Sleep(200);
        return false;
      },
      timeoutMs);
}

}  // namespace uitest

#endif  // SHELL_WIN32_TESTS_COM_HOSTS_H_
