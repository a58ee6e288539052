// Writing files so that a crash or a power cut never leaves half of one: every byte of a
// buffer written, and a file's contents replaced as a whole, durably.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"

// Writes all `size` bytes of `data` to `fd`, going on after an interrupted or a short write.
// The error is the system's ("write: reason", its errno); a write that takes nothing is
// ENOSPC. On a non-blocking fd it stops where the fd would block, with EAGAIN. `written`,
// when given, has the bytes written, whether it succeeded or not.
TStatus WriteAll(int fd, const void* data, size_t size, size_t* written = nullptr);
inline TStatus WriteAll(int fd, std::string_view text, size_t* written = nullptr) {
    return WriteAll(fd, text.data(), text.size(), written);
}

// Writes the new contents of a file to the open file it is given.
using TContentsWriter = std::function<TStatus(int fd)>;

// Replaces the file at `path` with new contents as one step: they are written to a temporary
// file beside it, synced, and renamed over it; then the folder is synced so that the rename
// lasts too (best effort: by then the new contents are in place). Whoever reads the path sees
// the old file or the new one, never a part. A file that replaces another keeps its
// permissions; a new one gets `newMode` less the umask. On every failure the temporary file
// is removed and the old file is left as it was; the error reads "path: reason".
TStatus ReplaceFileDurably(const std::string& path, const TContentsWriter& write,
                           mode_t newMode = 0666);
TStatus ReplaceFileDurably(const std::string& path, std::string_view contents,
                           mode_t newMode = 0666);
