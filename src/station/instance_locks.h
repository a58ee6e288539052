// What keeps two digitizer-station processes apart: the status file's place and its lock, and
// who holds a device that cannot be had.
#pragma once

#include <string>
#include <vector>

// The runtime directory the service is given (RuntimeDirectory= of its unit).
inline constexpr char ServiceStatusDirectory[] = "/run/kestrel32";

// The directory of the default status files: the service's runtime directory
// (`runtimeDirectory`, the first when it names several separated by colons), else
// `xdgRuntimeDir`/kestrel32 for a person at a shell, else /tmp/kestrel32-<uid>. Empty or null
// texts count as unset.
std::string DefaultStatusDirectory(const char* runtimeDirectory, const char* xdgRuntimeDir,
                                   unsigned uid);

// The same from the environment ($RUNTIME_DIRECTORY, $XDG_RUNTIME_DIR) and the user.
std::string DefaultStatusDirectory();

// Makes `dir` (mode 0700) when it is missing and its parent is there. An existing one must be
// a directory (not a link) of this user, since /tmp is shared. False with `error`
// ("dir: reason") otherwise. (The service's runtime directory is made by systemd.)
bool PrepareStatusDirectory(const std::string& dir, std::string& error);

// Takes the lock of the status file `statusPath` (the file "<statusPath>.lock" beside it,
// holding the pid of the process writing it), for as long as this process lives. Otherwise
// `error` names the process that holds it, or says why the lock file cannot be made.
enum class TStatusLock { Taken, HeldByAnother, Failed };
TStatusLock LockStatusFile(const std::string& statusPath, std::string& error);

// The processes that hold `device`: the one whose flock is on it (/proc/locks), else every
// other process with it open (/proc/*/fd), each as "PID (NAME)". `procRoot` is /proc but for
// tests.
std::vector<std::string> DeviceHolders(const std::string& device,
                                       const std::string& procRoot = "/proc");

// Whether `device` is held by another program's lock (as the digitizer's port takes one):
// the device is opened and its lock tried for a moment, then let go. False also when the
// device cannot be opened at all (missing, no permission): the station waits for those.
bool DeviceLockedByAnother(const std::string& device);
