// Reading and saving NC program files without losing data.
#ifndef REFHOST_EDITOR_FILE_IO_H_
#define REFHOST_EDITOR_FILE_IO_H_

#include <string>
#include <string_view>

#include "refhost/files/files.h"

namespace refhost {

// How a file ends its lines, and how to find out.
using files::LineEnding;
using files::DetectLineEnding;

// Reads the whole file into `out`. False with `error` set (a sentence naming
// the file and the cause) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out, std::string& error);

// Writes `bytes` to `path` so that a crash or a full disk never leaves a
// half-written file: the bytes go to a temporary file in the same folder,
// which is flushed to disk and renamed over `path`. A `path` that exists is
// kept first as the backup `path` + "~" (the previous backup is replaced),
// and its permissions carry over; a symbolic link is written through to its
// target. On failure returns false, sets `error` and leaves `path` untouched.
bool SaveFileSafely(const std::string& path, std::string_view bytes, std::string& error);

// The backup name SaveFileSafely() uses for `path`.
std::string BackupPath(const std::string& path);

}  // namespace refhost

#endif  // REFHOST_EDITOR_FILE_IO_H_
