// The registry table as a file of kTableSize bytes mapped shared.
#ifndef SHELL_GUARD_POSIX_SHARED_TABLE_FILE_H_
#define SHELL_GUARD_POSIX_SHARED_TABLE_FILE_H_

#include <string>

namespace guard::posix {

class SharedTableFile {
 public:
  // Requires the registry lock to be held (a new file is sized under it).
  // Opens or creates `path`, extends it with zeros to kTableSize bytes when
  // shorter, and maps it. Throws GuardError("Failed to create FileMapping")
  // when the file cannot be opened or sized, GuardError("Failed to create
  // FileMappingView") when it cannot be mapped, or a GuardError naming a
  // foreign file.
  explicit SharedTableFile(const std::string& path);
  ~SharedTableFile();
  SharedTableFile(const SharedTableFile&) = delete;
  SharedTableFile& operator=(const SharedTableFile&) = delete;

  unsigned char* Bytes() const { return bytes_; }

 private:
  int fd_;
  unsigned char* bytes_;
};

}  // namespace guard::posix

#endif  // SHELL_GUARD_POSIX_SHARED_TABLE_FILE_H_
