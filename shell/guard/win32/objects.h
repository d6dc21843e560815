// The system objects behind the Windows instance registry: the identity
// key, kernel object names, the registry lock and the shared table.
#ifndef SHELL_GUARD_WIN32_OBJECTS_H_
#define SHELL_GUARD_WIN32_OBJECTS_H_

#include <windows.h>

#include <string>

namespace guard::win32 {

// "Jcl" + `programPath`, upper-cased by the system (CharUpperBuffW), every
// "\" replaced by "_".
std::wstring IdentityKey(const std::wstring& programPath);

// The running program file (GetModuleFileNameW), or the path set by
// SetProgramPathForTesting. Throws GuardError when it cannot be read.
std::wstring ProgramPath();
void SetProgramPathForTesting(const std::wstring& path);

// key + suffix, as a kernel object or registered message name. A name
// longer than the system allows (MAX_PATH - 1 characters; atoms 255) keeps
// the start of the key and ends in "_<16 hex digits of the key's hash>"
// + suffix, so that distinct long keys stay distinct.
std::wstring ObjectName(const std::wstring& key, const std::wstring& suffix,
                        std::size_t maxLength = MAX_PATH - 1);

// The registry lock "<key>_Otx": a named mutex, recursive for the thread that
// holds it. A copy that dies holding it releases it (the next taker gets it
// abandoned, which is taken as a plain take), so a killed copy never blocks.
class RegistryLock {
 public:
  static constexpr DWORD kWaitMs = 10000;

  // Throws GuardError("Failed to create event") when it cannot be created.
  explicit RegistryLock(const std::wstring& name);
  ~RegistryLock();
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;

  // Waits at most kWaitMs; throws GuardError when the holder does not
  // release it in time.
  void Take();
  void Release();

 private:
  HANDLE mutex_;
};

class ScopedLock {
 public:
  explicit ScopedLock(RegistryLock& lock) : lock_(lock) { lock_.Take(); }
  ~ScopedLock() { lock_.Release(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  RegistryLock& lock_;
};

// The table "<key>_Map": named shared memory of kTableSize bytes, zero when
// first created. Throws GuardError "Failed to create FileMapping" /
// "Failed to create FileMappingView".
class SharedTable {
 public:
  explicit SharedTable(const std::wstring& name);
  ~SharedTable();
  SharedTable(const SharedTable&) = delete;
  SharedTable& operator=(const SharedTable&) = delete;

  unsigned char* Bytes() const { return view_; }

 private:
  HANDLE mapping_;
  unsigned char* view_;
};

// UTF-8 <-> UTF-16.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace guard::win32

#endif  // SHELL_GUARD_WIN32_OBJECTS_H_
