#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

// Creates a file that did not exist, named `prefix` followed by the process id, a counter and
// the time, with `mode` less the umask. The name is left in `path`; -1 with errno on failure.
int CreateUnique(const std::string& prefix, mode_t mode, std::string& path) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        path = prefix + std::to_string(getpid()) + "." + std::to_string(counter++) + "." +
               std::to_string(now.tv_nsec);
        const int fd =
            open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

TStatus WriteAll(int fd, const void* data, size_t size, size_t* written) {
    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    int error = 0;
    while (done < size) {
        const ssize_t n = write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (written != nullptr) {
        *written = done;
    }
    if (error != 0) {
        return SystemError("write", error);
    }
    return {};
}

TStatus ReplaceFileDurably(const std::string& path, const TContentsWriter& write, mode_t newMode) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) {
        return TError{path + ": not a file name", EISDIR};
    }
    std::string temp;
    const int fd =
        CreateUnique((slash == std::string::npos ? "" : dir) + "." + base + ".", newMode, temp);
    if (fd < 0) {
        return SystemError(path, errno);
    }
    const auto fail = [&](int error) -> TStatus {
        unlink(temp.c_str());
        return SystemError(path, error);
    };
    // A file that replaces another keeps its permissions; a new one has them from the umask.
    struct stat old {};
    if (lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
        fchmod(fd, old.st_mode & 07777) != 0) {
        const int error = errno;
        close(fd);
        return fail(error);
    }
    if (const TStatus written = write(fd); !written) {
        close(fd);
        unlink(temp.c_str());
        const TError& error = written.Error();
        return TError{path + ": " + (error.Errno != 0 ? std::strerror(error.Errno) : error.Text),
                      error.Errno};
    }
    if (fsync(fd) != 0) {
        const int error = errno;
        close(fd);
        return fail(error);
    }
    // A network file system may report a failed write only when the file is closed.
    if (close(fd) != 0) {
        return fail(errno);
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        return fail(errno);
    }
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return {};
}

TStatus ReplaceFileDurably(const std::string& path, std::string_view contents, mode_t newMode) {
    return ReplaceFileDurably(
        path, [contents](int fd) { return WriteAll(fd, contents); }, newMode);
}
