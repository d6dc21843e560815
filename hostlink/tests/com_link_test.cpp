// The COM link against the COM test host (brevand_comhost.exe), under Wine or
// Windows. The host is registered for "norvane.norvanex" by the test fixture.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "feed/pass.h"
#include "hostlink/attach.h"
#include "hostlink/com/com_connector.h"
#include "hostlink/com/com_transport.h"
#include "hostlink/com/variant_value.h"
#include "hostlink/host_editor.h"
#include "hostlink/host_error.h"
#include "refhost/core/automation.h"
#include "refhost/core/document.h"
#include "refhost/editor/tests/automation_host.h"

namespace hostlink {
namespace {

const char kServer[] = BREVAND_COMHOST_EXE;
const char kNgcDir[] = BREVAND_NGC_DIR_WIN;

// A mill program: line 1 sets mm and feed 500, lines 2-4 move, 5 is an arc.
const char kProgram[] =
    "G21 G17 G90 F500\n"
    "G1 X1 Y1\n"
    "G1 X1.2 Y1.2\n"
    "G0 X50\n"
    "G2 X51 Y2 I0.5 J0.5\n"
    "M2\n";

// The system's text for `status`, read here independently of the link.
std::string ExpectedSystemText(HRESULT status) {
  char buffer[256];
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(status), 0, buffer, sizeof buffer,
                                 nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) {
    char code[32];
    std::snprintf(code, sizeof code, "OLE error %.8lx", static_cast<unsigned long>(status));
    text = code;
  }
  return text;
}

std::string Outcome(const std::function<std::string()>& call) {
  try {
    return call();
  } catch (const HostError& e) {
    return std::string("error: ") + e.what();
  }
}

std::string Num(double v) {
  std::ostringstream out;
  out.precision(17);
  out << v;
  return out.str();
}

std::string TempPath(const std::string& name) {
  static int counter = 0;
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + "brevand_com_" + std::to_string(GetCurrentProcessId()) + "_" +
         std::to_string(++counter) + "_" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The running object of "norvane.norvanex", or null.
IUnknown* ActiveObject() {
  CLSID clsid;
  if (CLSIDFromProgID(L"norvane.norvanex", &clsid) != S_OK) return nullptr;
  IUnknown* unknown = nullptr;
  if (GetActiveObject(clsid, nullptr, &unknown) != S_OK) return nullptr;
  return unknown;
}

bool HostRunning() {
  IUnknown* unknown = ActiveObject();
  if (unknown) unknown->Release();
  return unknown != nullptr;
}

// The running object as IDispatch, or null.
IDispatch* RunningObject() {
  IUnknown* unknown = ActiveObject();
  if (!unknown) return nullptr;
  IDispatch* dispatch = nullptr;
  unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  unknown->Release();
  return dispatch;
}

// GetIDsOfNames + Invoke(DISPATCH_METHOD) without arguments; the status of
// whichever fails first.
HRESULT RawCall(IDispatch* dispatch, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 0;
  HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (hr != S_OK) return hr;
  DISPPARAMS none{};
  return dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

// How many processes of the COM test host run.
int HostProcesses() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"brevand_comhost.exe") == 0) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

bool WaitFor(const std::function<bool()>& done, DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (!done()) {
    if (GetTickCount64() > end) return false;
    Sleep(50);
  }
  return true;
}

class ComLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    QuitRunning();
    SetEnvironmentVariableA("BREVAND_COMHOST_PROGRAM", nullptr);
    SetEnvironmentVariableA("BREVAND_COMHOST_RECORD", nullptr);
    SetEnvironmentVariableA("BREVAND_COMHOST_SAVE", nullptr);
    SetEnvironmentVariableA("BREVAND_COMHOST_SCRIPT", nullptr);
  }
  void TearDown() override {
    QuitRunning();
    for (HANDLE p : processes_) {
      if (WaitForSingleObject(p, 30000) != WAIT_OBJECT_0) TerminateProcess(p, 1);
      CloseHandle(p);
    }
    CoUninitialize();
  }

  // Ends the running host, if any, and waits until it has left the table.
  static void QuitRunning() {
    if (!HostRunning()) return;
    IDispatch* d = RunningObject();
    CLSID clsid;
    if (!d && CLSIDFromProgID(L"norvane.norvanex", &clsid) == S_OK) {
      // A running object without IDispatch: reach the host through its class.
      CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                       reinterpret_cast<void**>(&d));
    }
    if (!d) return;
    RawCall(d, L"Quit");
    d->Release();
    WaitFor([] { return !HostRunning(); }, 30000);
  }

  // Starts the host with `args` and waits until it is in the running object
  // table.
  HANDLE StartHost(const std::vector<std::string>& args) {
    std::string command = std::string("\"") + kServer + "\"";
    for (const std::string& a : args) command += " \"" + a + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
      ADD_FAILURE() << "cannot start " << command;
      return nullptr;
    }
    CloseHandle(pi.hThread);
    processes_.push_back(pi.hProcess);
    const bool up = WaitFor([&] {
      return HostRunning() || WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
    }, 60000);
    EXPECT_TRUE(up) << "the host never entered the running object table";
    return pi.hProcess;
  }

  // Starts the host on kProgram with `directives`.
  HANDLE StartScripted(const std::vector<std::string>& directives) {
    program_ = TempPath("program.ngc");
    WriteFile(program_, kProgram);
    std::vector<std::string> args = {"--program", program_, "--record", record_,
                                     "--save", saved_};
    for (const std::string& d : directives) {
      args.push_back("-e");
      args.push_back(d);
    }
    return StartHost(args);
  }

  std::vector<std::string> Attach(HostEditor& editor, const std::string& progId = com::kProgId) {
    com::ComConnector connector(progId);
    std::vector<std::string> shown;
    AttachSequence(editor, connector, [&](const std::string& m) { shown.push_back(m); });
    return shown;
  }

  std::string program_, record_ = TempPath("record.txt"), saved_ = TempPath("saved.ngc");
  std::vector<HANDLE> processes_;
};

TEST_F(ComLinkTest, AttachesToTheRunningObjectAndEncodesEveryCall) {
  HANDLE host = StartScripted({"write-back"});
  ASSERT_NE(host, nullptr);
  HostEditor editor;
  EXPECT_TRUE(Attach(editor).empty());
  ASSERT_TRUE(editor.Linked());

  EXPECT_EQ(editor.SystemType(), 301);
  EXPECT_EQ(editor.StartSelection(), 1);
  EXPECT_EQ(editor.EndSelection(), 6);
  editor.selectline(2, ArgForm::ByReference);
  editor.markline(0, 0, ArgForm::ByReference);
  editor.step();
  EXPECT_EQ(editor.CurrentBlock(19), 500.0);
  EXPECT_EQ(editor.CurrentBlock(7), 1.0);
  const double feed = 212.5;
  editor.add("F", feed);
  EXPECT_EQ(feed, 212.5);
  editor.markline(2, 1, ArgForm::ByValue);
  editor.selectline(3, ArgForm::ByValue);
  EXPECT_EQ(HostProcesses(), 1);  // linked to the running host, none started
  editor.Release();

  // GetIDsOfNames before every Invoke; the flags of each member; arguments in
  // the caller's order; the by-reference ones as VT_BYREF.
  const std::vector<std::string> expected = {
      "names SystemType", "invoke SystemType method|get",
      "names StartSelection", "invoke StartSelection method|get",
      "names EndSelection", "invoke EndSelection method|get",
      "names selectline", "invoke selectline method I4&:2",
      "names markline", "invoke markline method I4&:0 I4:0",
      "names step", "invoke step method",
      "names CurrentBlock", "invoke CurrentBlock get I4:19",
      "names CurrentBlock", "invoke CurrentBlock get I4:7",
      "names add", "invoke add method BSTR:F R8&:212.5",
      "names markline", "invoke markline method I4:2 I4:1",
      "names selectline", "invoke selectline method I4:3",
  };
  EXPECT_EQ(Lines(ReadFile(record_)), expected);

  QuitRunning();
  ASSERT_EQ(WaitForSingleObject(host, 30000), WAIT_OBJECT_0);
  // The host wrote the word into its document (the value it received, not
  // the one it wrote back).
  const std::vector<std::string> saved = Lines(ReadFile(saved_));
  ASSERT_GE(saved.size(), 2u);
  EXPECT_EQ(saved[1], "G1 X1 Y1 F212.5");
}

TEST_F(ComLinkTest, AttachesByCreatingTheRegisteredHost) {
  ASSERT_FALSE(HostRunning());
  program_ = TempPath("lathe.ngc");
  WriteFile(program_, "G18 G90 G21 F100\nG1 X10 Z-5\n");
  // The server COM starts inherits this process's environment under Wine.
  SetEnvironmentVariableA("BREVAND_COMHOST_PROGRAM", program_.c_str());
  SetEnvironmentVariableA("BREVAND_COMHOST_RECORD", record_.c_str());
  HostEditor editor;
  EXPECT_TRUE(Attach(editor).empty());
  ASSERT_TRUE(editor.Linked());
  EXPECT_EQ(editor.SystemType(), 304);
  EXPECT_EQ(editor.EndSelection(), 2);
  editor.Release();
  EXPECT_EQ(Lines(ReadFile(record_)),
            (std::vector<std::string>{"names SystemType", "invoke SystemType method|get",
                                      "names EndSelection", "invoke EndSelection method|get"}));
}

TEST_F(ComLinkTest, RunningObjectWithoutIDispatchLeadsToCreation) {
  ASSERT_NE(StartScripted({"rot-without-dispatch"}), nullptr);
  HostEditor editor;
  EXPECT_TRUE(Attach(editor).empty());
  ASSERT_TRUE(editor.Linked());
  EXPECT_EQ(editor.EndSelection(), 6);  // the same host, reached through its class
}

TEST_F(ComLinkTest, NothingRegisteredShowsBothMessagesInOrder) {
  HostEditor editor;
  EXPECT_EQ(Attach(editor, "norvane.nosuchhost"),
            (std::vector<std::string>{kNotInstalledText, kUnableToLinkText}));
  EXPECT_FALSE(editor.Linked());
  EXPECT_EQ(Outcome([&] { return std::to_string(editor.SystemType()); }),
            "error: Invalid variant operation");
}

TEST_F(ComLinkTest, RegisteredHostThatCannotStartShowsBothMessages) {
  const wchar_t* clsid = L"{0E6C2B7D-51A4-4F0B-8E3A-7C19D2F4A6B8}";
  const std::wstring progKey = L"norvane.brokenhost";
  const std::wstring classKey = std::wstring(L"CLSID\\") + clsid;
  auto set = [](const std::wstring& key, const std::wstring& value) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &h, nullptr), ERROR_SUCCESS);
    RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
  };
  set(progKey + L"\\CLSID", clsid);
  set(classKey + L"\\LocalServer32", L"Z:\\nonexistent\\norvane.exe");
  HostEditor editor;
  EXPECT_EQ(Attach(editor, "norvane.brokenhost"),
            (std::vector<std::string>{kNotInstalledText, kUnableToLinkText}));
  EXPECT_FALSE(editor.Linked());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, progKey.c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey.c_str());
}

TEST(ComErrorText, HostExceptionsAndSystemTexts) {
  struct Case {
    const wchar_t* description;
    SCODE scode;
    WORD wCode;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {L"Line 3 is broken. . \t\r\n", E_FAIL, 0, "Line 3 is broken"},
      {L"...", E_FAIL, 0, ExpectedSystemText(E_FAIL)},
      {nullptr, E_OUTOFMEMORY, 0, ExpectedSystemText(E_OUTOFMEMORY)},
      // wCode is the host's own code: the status 0x80040200 + wCode stands for it.
      {nullptr, 0, 5, ExpectedSystemText(static_cast<HRESULT>(0x80040205))},
      {nullptr, 0, 0, ExpectedSystemText(DISP_E_EXCEPTION)},
      {L"Zeile \u00fcberlang", E_FAIL, 0, "Zeile \xc3\xbc" "berlang"},
  };
  for (const Case& c : cases) {
    EXCEPINFO info{};
    info.bstrDescription = c.description ? SysAllocString(c.description) : nullptr;
    info.scode = c.scode;
    info.wCode = c.wCode;
    EXPECT_EQ(com::InvokeErrorText(DISP_E_EXCEPTION, info), c.expected);
    SysFreeString(info.bstrDescription);
  }
  // Any other status reads as the system's text, the description unread.
  EXCEPINFO info{};
  info.bstrDescription = SysAllocString(L"ignored");
  EXPECT_EQ(com::InvokeErrorText(RPC_E_DISCONNECTED, info), ExpectedSystemText(RPC_E_DISCONNECTED));
  SysFreeString(info.bstrDescription);
  EXPECT_EQ(com::SystemText(static_cast<HRESULT>(0xa0001234)),
            ExpectedSystemText(static_cast<HRESULT>(0xa0001234)));
  EXPECT_EQ(ExpectedSystemText(static_cast<HRESULT>(0xa0001234)), "OLE error a0001234");
  EXPECT_EQ(ExpectedSystemText(static_cast<HRESULT>(0x80040205)), "OLE error 80040205");
}

// Results a proxy never delivers but an in-process host may: values by
// reference, read through their pointer.
TEST(ComVariantValue, ReadsValuesByReference) {
  LONG i4 = 304;
  double r8 = 305.5;
  VARIANT inner;
  VariantInit(&inner);
  V_VT(&inner) = VT_R8;
  V_R8(&inner) = 2.5;
  struct Case {
    VARTYPE vt;
    void* pointer;
    std::string integer;  // ToInteger, or "error: ..."
  };
  const std::vector<Case> cases = {
      {VT_I4 | VT_BYREF, &i4, "304"},
      {VT_R8 | VT_BYREF, &r8, "306"},
      {VT_VARIANT | VT_BYREF, &inner, "2"},
      {VT_I4 | VT_BYREF, nullptr,
       "error: Could not convert variant of type (Unknown) into type (Integer)"},
      {VT_VARIANT | VT_BYREF, nullptr,
       "error: Could not convert variant of type (Unknown) into type (Integer)"},
  };
  for (const Case& c : cases) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = c.vt;
    V_BYREF(&v) = c.pointer;
    EXPECT_EQ(Outcome([&] { return std::to_string(com::ToHostValue(v).ToInteger({})); }),
              c.integer)
        << c.vt;
  }
}

TEST_F(ComLinkTest, HostThatWentAwayFailsEveryCallWithTheSystemText) {
  HANDLE host = StartScripted({});
  ASSERT_NE(host, nullptr);
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  IDispatch* own = RunningObject();  // a second proxy, to learn the status
  ASSERT_NE(own, nullptr);
  ASSERT_EQ(editor.SystemType(), 301);

  // The host closes (a killed one would leave Wine's rpcss with a stale
  // class registration that breaks later activations in the prefix).
  ASSERT_EQ(RawCall(own, L"Quit"), S_OK);
  ASSERT_EQ(WaitForSingleObject(host, 30000), WAIT_OBJECT_0);
  const HRESULT gone = RawCall(own, L"SystemType");
  own->Release();
  EXPECT_NE(gone, S_OK);
  const std::string expected = "error: " + ExpectedSystemText(gone);
  std::printf("a host that went away: 0x%.8lx \"%s\"\n", static_cast<unsigned long>(gone),
              expected.c_str());
  EXPECT_EQ(Outcome([&] { return std::to_string(editor.SystemType()); }), expected);

  // A new host does not relink the old link.
  StartScripted({});
  EXPECT_TRUE(editor.Linked());
  EXPECT_EQ(Outcome([&] { return std::to_string(editor.SystemType()); }), expected);
}

struct Row {
  const char* type;
  const char* text;
  const char* expected;  // the value as text, or "error: ..."
};

TEST_F(ComLinkTest, ConvertsEveryVariantTypeOfAnIntegerResult) {
  const std::vector<Row> rows = {
      {"empty", "", "0"},
      {"null", "", "error: Could not convert variant of type (Null) into type (Integer)"},
      {"ui1", "200", "200"},
      {"i1", "-5", "-5"},
      {"i2", "-300", "-300"},
      {"ui2", "65535", "65535"},
      {"i4", "-2147483648", "-2147483648"},
      {"int", "7", "7"},
      {"uint", "8", "8"},
      {"ui4", "4294967295",
       "error: Overflow while converting variant of type (LongWord) into type (Integer)"},
      {"i8", "5000000000",
       "error: Overflow while converting variant of type (Int64) into type (Integer)"},
      {"ui8", "3", "3"},
      {"r8", "304.5", "304"},
      {"r8", "305.5", "306"},
      {"r8", "-2.5", "-2"},
      {"r8", "2147483647.4", "2147483647"},
      {"r8", "2147483648",
       "error: Overflow while converting variant of type (Double) into type (Integer)"},
      {"r8", "1e19", "error: Invalid floating point operation"},
      {"r8", "nan", "error: Invalid floating point operation"},
      {"r8", "-inf", "error: Invalid floating point operation"},
      {"r4", "304.5", "304"},
      {"date", "305.5", "306"},
      {"cy", "304.5", "304"},
      {"cy", "-0.5", "0"},
      {"decimal", "2.5", "2"},
      {"bool", "true", "-1"},
      {"bool", "false", "0"},
      {"bstr", " 42 ", "42"},
      {"bstr", "4.5", "error: Could not convert variant of type (OleStr) into type (Integer)"},
      {"bstr", "nan", "error: Could not convert variant of type (OleStr) into type (Integer)"},
      {"error", "0x80004005",
       "error: Could not convert variant of type (Unknown) into type (Integer)"},
      {"dispatch", "", "error: Could not convert variant of type (Unknown) into type (Integer)"},
      {"array", "", "error: Could not convert variant of type (Unknown) into type (Integer)"},
  };
  std::vector<std::string> directives;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    directives.push_back("value SystemType@" + std::to_string(i + 1) + " " + rows[i].type + " " +
                         rows[i].text);
  }
  ASSERT_NE(StartScripted(directives), nullptr);
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  for (const Row& row : rows) {
    EXPECT_EQ(Outcome([&] { return std::to_string(editor.SystemType()); }), row.expected)
        << row.type << " " << row.text;
  }
}

TEST_F(ComLinkTest, ConvertsEveryVariantTypeOfARealResult) {
  const std::string decimal = com::UserNumberFormat().decimal;
  const std::string half = "2" + decimal + "5";
  const std::vector<Row> rows = {
      {"empty", "", "0"},
      {"null", "", "error: Could not convert variant of type (Null) into type (Double)"},
      {"i4", "-7", "-7"},
      {"ui8", "9007199254740993", "9007199254740992"},
      {"r4", "0.1", "0.10000000149011612"},
      {"r8", "0.1", "0.10000000000000001"},
      {"cy", "1.2345", "1.2344999999999999"},
      {"date", "2.5", "2.5"},
      {"bool", "true", "-1"},
      {"bstr", half.c_str(), "2.5"},
      {"bstr", "abc", "error: Could not convert variant of type (OleStr) into type (Double)"},
      {"bstr", "inf", "error: Could not convert variant of type (OleStr) into type (Double)"},
      {"r8", "nan", "error: Invalid floating point operation"},
      {"r8", "inf", "error: Invalid floating point operation"},
      {"array", "", "error: Could not convert variant of type (Unknown) into type (Double)"},
  };
  std::vector<std::string> directives;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    directives.push_back("value CurrentBlock@" + std::to_string(i + 1) + " " + rows[i].type +
                         " " + rows[i].text);
  }
  ASSERT_NE(StartScripted(directives), nullptr);
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  for (const Row& row : rows) {
    EXPECT_EQ(Outcome([&] { return Num(editor.CurrentBlock(19)); }), row.expected)
        << row.type << " " << row.text;
  }
}

TEST_F(ComLinkTest, FailuresShowTheirTexts) {
  ASSERT_NE(StartScripted({"queries properties",
                           "error step@1 exception:0x80004005 Line 3 is broken. . \\t",
                           "error step@2 exception:0x80004005",
                           "error step@3 0x1",
                           "error step@4 0x80004005",
                           "error step@5 0xa0001234",
                           "error step@6 wcode:5",
                           "error selectline names:0x80020006",
                           "error markline names:0x8002000e"}),
            nullptr);
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  auto step = [&] {
    return Outcome([&] {
      editor.step();
      return std::string("ok");
    });
  };
  // Queries served only as properties still answer.
  EXPECT_EQ(editor.SystemType(), 301);
  EXPECT_EQ(step(), "error: Line 3 is broken");
  EXPECT_EQ(step(), "error: " + ExpectedSystemText(E_FAIL));
  EXPECT_EQ(step(), "error: " + ExpectedSystemText(S_FALSE));  // only S_OK succeeds
  EXPECT_EQ(step(), "error: " + ExpectedSystemText(E_FAIL));
  EXPECT_EQ(step(), "error: " + ExpectedSystemText(static_cast<HRESULT>(0xa0001234)));
  // The host's application code 5, no description: the status it stands for.
  EXPECT_EQ(step(), "error: " + ExpectedSystemText(static_cast<HRESULT>(0x80040205)));
  EXPECT_EQ(Outcome([&] {
              editor.selectline(1, ArgForm::ByValue);
              return std::string("ok");
            }),
            "error: Method 'selectline' not supported by automation object");
  EXPECT_EQ(Outcome([&] {
              editor.markline(1, 1, ArgForm::ByValue);
              return std::string("ok");
            }),
            "error: " + ExpectedSystemText(DISP_E_BADPARAMCOUNT));
  // The host's own refusal arrives as DISP_E_EXCEPTION with its text.
  EXPECT_EQ(Outcome([&] { return Num(editor.CurrentBlock(100)); }),
            "error: CurrentBlock: index 100 is outside 0 to 99");
  EXPECT_EQ(step(), "ok");  // the seventh step has no rule: line 1
}

TEST_F(ComLinkTest, PassOverComWritesWhatThePassWritesInProcess) {
  const std::string path = std::string(kNgcDir) + "/arcspiral.ngc";
  const std::string text = ReadFile(path);
  if (text.empty()) GTEST_SKIP() << path << " not found";
  const feed::PassInput input{"2", "333", "5", "222", false};

  refhost::Document document;
  document.Load(text);
  refhost::Automation automation(document);
  automation.SetSystemType(refhost::GuessSystemType(document));
  const int kLines = 400;  // the pass makes about 20 round trips a line
  automation.SetSelection(1, kLines);
  refhost::testing::AutomationHost direct(automation);  // what the COM host serves, without COM
  feed::RunPass(direct, input, [](const std::string&) {});

  HANDLE host = StartHost({"--program", path, "--save", saved_, "-e",
                           "selection 1 " + std::to_string(kLines)});
  ASSERT_NE(host, nullptr);
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  std::vector<std::string> shown;
  const ULONGLONG start = GetTickCount64();
  feed::RunPass(editor, input, [&](const std::string& m) { shown.push_back(m); });
  std::printf("pass over COM: %.2f ms a line\n",
              static_cast<double>(GetTickCount64() - start) / kLines);
  EXPECT_TRUE(shown.empty());
  editor.Release();
  QuitRunning();
  ASSERT_EQ(WaitForSingleObject(host, 30000), WAIT_OBJECT_0);
  EXPECT_NE(document.Text(), text);  // the pass changed something
  EXPECT_EQ(ReadFile(saved_), document.Text());
}

}  // namespace
}  // namespace hostlink
