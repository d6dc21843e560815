#include "shell/guard/posix/shared_table_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "shell/guard/guard_error.h"
#include "shell/guard/posix/runtime_dir.h"
#include "shell/guard/registry_table.h"

namespace guard::posix {

SharedTableFile::SharedTableFile(const std::string& path)
    : fd_(OpenOwnedFile(path, "Failed to create FileMapping")), bytes_(nullptr) {
  struct stat st {};
  if (fstat(fd_, &st) != 0 ||
      (st.st_size < static_cast<off_t>(kTableSize) && ftruncate(fd_, kTableSize) != 0)) {
    close(fd_);
    throw GuardError("Failed to create FileMapping");
  }
  void* p = mmap(nullptr, kTableSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (p == MAP_FAILED) {
    close(fd_);
    throw GuardError("Failed to create FileMappingView");
  }
  bytes_ = static_cast<unsigned char*>(p);
}

SharedTableFile::~SharedTableFile() {
  munmap(bytes_, kTableSize);
  close(fd_);
}

}  // namespace guard::posix
