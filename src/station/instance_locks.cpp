#include "station/instance_locks.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

bool IsSet(const char* text) {
    return text != nullptr && *text != '\0';
}

std::string Reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// "PID (NAME)", the name from /proc/PID/comm.
std::string ProcessText(const std::string& procRoot, const std::string& pid) {
    std::ifstream comm(procRoot + "/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? pid : pid + " (" + name + ")";
}

bool IsNumber(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string DefaultStatusDirectory(const char* runtimeDirectory, const char* xdgRuntimeDir,
                                   unsigned uid) {
    if (IsSet(runtimeDirectory)) {
        const std::string dirs = runtimeDirectory;
        return dirs.substr(0, dirs.find(':'));
    }
    if (IsSet(xdgRuntimeDir)) {
        return std::string(xdgRuntimeDir) + "/kestrel32";
    }
    return "/tmp/kestrel32-" + std::to_string(uid);
}

std::string DefaultStatusDirectory() {
    return DefaultStatusDirectory(std::getenv("RUNTIME_DIRECTORY"), std::getenv("XDG_RUNTIME_DIR"),
                                  geteuid());
}

bool PrepareStatusDirectory(const std::string& dir, std::string& error) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = Reason(dir, errno);
        return false;
    }
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) {
        error = Reason(dir, errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = dir + ": not a directory";
        return false;
    }
    if (st.st_uid != geteuid()) {
        error = dir + ": belongs to user " + std::to_string(st.st_uid) + ", not to this one";
        return false;
    }
    return true;
}

TStatusLock LockStatusFile(const std::string& statusPath, std::string& error) {
    const std::string lockPath = statusPath + ".lock";
    // Never closed: the lock lasts as long as the process.
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = Reason(lockPath, errno);
        return TStatusLock::Failed;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int failure = errno;
        if (failure != EWOULDBLOCK) {
            error = Reason(lockPath, failure);
        } else {
            char text[32] = {};
            const ssize_t got = pread(fd, text, sizeof text - 1, 0);
            std::string pid = got > 0 ? std::string(text, size_t(got)) : "";
            pid = pid.substr(0, pid.find('\n'));
            error = "the status file " + statusPath + " is written by process " +
                    (IsNumber(pid.c_str()) ? ProcessText("/proc", pid) : "unknown") +
                    "; is another digitizer-station recording the same device?";
        }
        close(fd);
        return failure == EWOULDBLOCK ? TStatusLock::HeldByAnother : TStatusLock::Failed;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != ssize_t(pid.size())) {
        error = Reason(lockPath, errno);
        close(fd);
        return TStatusLock::Failed;
    }
    return TStatusLock::Taken;
}

std::vector<std::string> DeviceHolders(const std::string& device, const std::string& procRoot) {
    std::vector<std::string> holders;
    struct stat target {};
    if (stat(device.c_str(), &target) != 0) {
        return holders;
    }
    // "1: FLOCK  ADVISORY  WRITE 1503 00:1a:3 0 EOF": the pid, then major:minor (hex):inode.
    std::ifstream locks(procRoot + "/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, where;
        fields >> number >> kind >> mode >> access >> pid >> where;
        if (access == "->") {  // a waiter: "1: -> FLOCK ..."
            continue;
        }
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (kind == "FLOCK" && IsNumber(pid.c_str()) &&
            std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 &&
            makedev(major, minor) == target.st_dev && inode == target.st_ino) {
            holders.push_back(ProcessText(procRoot, pid));
        }
    }
    if (!holders.empty()) {
        return holders;
    }
    const std::string self = std::to_string(getpid());
    DIR* proc = opendir(procRoot.c_str());
    if (proc == nullptr) {
        return holders;
    }
    while (const dirent* process = readdir(proc)) {
        if (!IsNumber(process->d_name) || process->d_name == self) {
            continue;
        }
        const std::string fdDir = procRoot + "/" + process->d_name + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (fds == nullptr) {
            continue;
        }
        while (const dirent* fd = readdir(fds)) {
            struct stat st {};
            if (IsNumber(fd->d_name) && stat((fdDir + "/" + fd->d_name).c_str(), &st) == 0 &&
                st.st_rdev == target.st_rdev && st.st_ino == target.st_ino &&
                st.st_dev == target.st_dev) {
                holders.push_back(ProcessText(procRoot, process->d_name));
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return holders;
}

bool DeviceLockedByAnother(const std::string& device) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == EBUSY;
    }
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);  // lets go of the lock when it was taken
    return locked;
}
