// brevand_comhost: a COM local server for "norvane.norvanex" that serves the
// host members from the reference editor's core (see README.md).
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "hostlink/testhost/com/com_host.h"

namespace {

const char kProgId[] = "norvane.norvanex";
UINT_PTR g_saveTimer = 0;  // thread timers: SetTimer picks their ids
UINT_PTR g_quitTimer = 0;

comhost::HostObject* g_host = nullptr;
std::string g_savePath;
DWORD g_thread = 0;

// Under Wine a Linux path "/a/b" is "Z:/a/b".
std::string WindowsPath(const std::string& path) {
  return !path.empty() && path[0] == '/' ? "Z:" + path : path;
}

std::string FromEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

void Save() {
  if (g_savePath.empty() || !g_host) return;
  std::ofstream out(WindowsPath(g_savePath), std::ios::binary | std::ios::trunc);
  out << g_host->Document().Text("\n");
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (id == g_saveTimer) {
    g_saveTimer = 0;
    Save();
  }
  if (id == g_quitTimer) PostThreadMessageW(g_thread, WM_QUIT, 0, 0);
}

std::wstring Wide(const std::string& s) {
  std::wstring w(s.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), static_cast<int>(w.size()));
  w.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
  return w;
}

std::wstring ClsidText() {
  wchar_t text[64];
  StringFromGUID2(comhost::kClsid, text, 64);
  return text;
}

bool SetKey(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY h = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG rc = RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(h);
  return rc == ERROR_SUCCESS;
}

// LocalServer32 is this program with `extra` (options baked into every start).
int Register(const std::string& extra) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(exe) + L"\"";
  if (!extra.empty()) command += L" " + Wide(extra);
  const std::wstring clsid = L"CLSID\\" + ClsidText();
  const std::wstring prog = Wide(kProgId);
  const bool ok = SetKey(prog, nullptr, L"Norvane test host") &&
                  SetKey(prog + L"\\CLSID", nullptr, ClsidText()) &&
                  SetKey(clsid, nullptr, L"Norvane test host") &&
                  SetKey(clsid + L"\\ProgID", nullptr, prog) &&
                  SetKey(clsid + L"\\LocalServer32", nullptr, command);
  if (!ok) std::cerr << "brevand_comhost: cannot write the registry\n";
  return ok ? 0 : 1;
}

int Unregister() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, Wide(kProgId).c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + ClsidText()).c_str());
  return 0;
}

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }   // static lifetime
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  // Every creation hands out the one host object.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    return g_host->QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// An object that answers only for IUnknown.
class Plain : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = IsEqualIID(iid, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }   // static lifetime
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

int Usage() {
  std::cerr << "usage: brevand_comhost /RegServer [OPTION...] | /UnregServer\n"
               "       brevand_comhost [--program FILE] [--save FILE] [--record FILE]\n"
               "                       [--script FILE] [-e DIRECTIVE]... [-Embedding]\n"
               "Directives are described in hostlink/testhost/com/README.md.\n";
  return 2;
}

// Directives of the Linux test host that need its line table.
bool TableOnly(const std::string& directive) {
  std::istringstream in(directive);
  std::string op;
  in >> op;
  return op == "line" || op == "diagonal" || op == "demo" || op == "beyond" || op == "hang";
}

}  // namespace

int main(int argc, char** argv) {
  comhost::HostOptions options;
  std::string programPath = FromEnv("BREVAND_COMHOST_PROGRAM");
  std::string scriptPath = FromEnv("BREVAND_COMHOST_SCRIPT");
  std::string recordPath = FromEnv("BREVAND_COMHOST_RECORD");
  g_savePath = FromEnv("BREVAND_COMHOST_SAVE");
  std::vector<std::string> directives;

  if (argc >= 2 && (_stricmp(argv[1], "/RegServer") == 0 || _stricmp(argv[1], "-RegServer") == 0)) {
    std::string extra;
    for (int i = 2; i < argc; ++i) {
      if (i > 2) extra.push_back(' ');
      extra.append(argv[i]);
    }
    return Register(extra);
  }
  if (argc >= 2 && (_stricmp(argv[1], "/UnregServer") == 0 || _stricmp(argv[1], "-UnregServer") == 0)) {
    return Unregister();
  }
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (_stricmp(a.c_str(), "-Embedding") == 0 || _stricmp(a.c_str(), "/Embedding") == 0) {
      continue;  // started by COM: same service
    } else if (a == "--program" && hasValue) {
      programPath = argv[++i];
    } else if (a == "--save" && hasValue) {
      g_savePath = argv[++i];
    } else if (a == "--record" && hasValue) {
      recordPath = argv[++i];
    } else if (a == "--script" && hasValue) {
      scriptPath = argv[++i];
    } else if (a == "-e" && hasValue) {
      directives.push_back(argv[++i]);
    } else {
      return Usage();
    }
  }

  auto apply = [&](const std::string& directive, const std::string& where) {
    std::string error;
    std::istringstream in(directive);
    std::string op;
    in >> op;
    if (op == "write-back") {
      options.writeBack = true;
    } else if (op == "rot-without-dispatch") {
      options.rotWithoutDispatch = true;
    } else if (TableOnly(directive)) {
      error = "not served by the COM host (it serves a program file): " + directive;
    } else {
      error = testhost::ApplyDirective(directive, &options.script);
    }
    if (!error.empty()) {
      std::cerr << "brevand_comhost: " << where << ": " << error << "\n";
      std::exit(2);
    }
  };
  if (!scriptPath.empty()) {
    std::ifstream in(WindowsPath(scriptPath));
    if (!in) {
      std::cerr << "brevand_comhost: cannot read " << scriptPath << "\n";
      return 2;
    }
    int n = 0;
    for (std::string line; std::getline(in, line);) apply(line, scriptPath + ":" + std::to_string(++n));
  }
  for (const std::string& d : directives) apply(d, "-e");
  if (!options.script.recordPath.empty()) recordPath = options.script.recordPath;
  options.recordPath = WindowsPath(recordPath);
  if (!programPath.empty()) {
    std::ifstream in(WindowsPath(programPath), std::ios::binary);
    if (!in) {
      std::cerr << "brevand_comhost: cannot read " << programPath << "\n";
      return 2;
    }
    options.program.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  if (FAILED(CoInitialize(nullptr))) {
    std::cerr << "brevand_comhost: CoInitialize failed\n";
    return 1;
  }
  g_thread = GetCurrentThreadId();
  g_host = new comhost::HostObject(
      std::move(options),
      [] {
        if (!g_quitTimer) g_quitTimer = SetTimer(nullptr, 0, 50, OnTimer);
      },
      [](bool now) {
        if (now) {
          Save();
        } else {
          if (g_saveTimer) KillTimer(nullptr, g_saveTimer);
          g_saveTimer = SetTimer(nullptr, 0, 200, OnTimer);  // 200 ms after the last change
        }
      });
  static Factory factory;
  static Plain plain;
  const bool plainInTable = g_host->RotWithoutDispatch();
  IUnknown* active = plainInTable ? static_cast<IUnknown*>(&plain) : static_cast<IUnknown*>(g_host);
  DWORD classCookie = 0, activeCookie = 0;
  HRESULT hr = CoRegisterClassObject(comhost::kClsid, &factory, CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE, &classCookie);
  if (SUCCEEDED(hr)) hr = RegisterActiveObject(active, comhost::kClsid, ACTIVEOBJECT_STRONG, &activeCookie);
  if (FAILED(hr)) {
    std::cerr << "brevand_comhost: cannot register the class object (0x" << std::hex << hr << ")\n";
    return 1;
  }

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  RevokeActiveObject(activeCookie, nullptr);
  CoRevokeClassObject(classCookie);
  Save();
  CoDisconnectObject(g_host, 0);
  if (plainInTable) CoDisconnectObject(&plain, 0);
  g_host->Release();
  g_host = nullptr;
  CoUninitialize();
  return 0;
}
