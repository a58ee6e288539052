// Where the default status file goes, its directory and lock, and who holds a device.
#include "station/instance_locks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class InstanceLocks : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("instance_locks_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

}  // namespace

TEST(DefaultStatusDirectory, TheServicesThenTheUsersRuntimeDirectoryThenOneInTmp) {
    struct TCase {
        const char* Runtime;
        const char* Xdg;
        const char* Expected;
    };
    const TCase cases[] = {
        {"/run/kestrel32", "/run/user/1000", "/run/kestrel32"},
        {"/run/a:/run/b", nullptr, "/run/a"},
        {"", "/run/user/1000", "/run/user/1000/kestrel32"},
        {nullptr, "/run/user/1000", "/run/user/1000/kestrel32"},
        {nullptr, "", "/tmp/kestrel32-1000"},
        {nullptr, nullptr, "/tmp/kestrel32-1000"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(DefaultStatusDirectory(c.Runtime, c.Xdg, 1000), c.Expected)
            << (c.Runtime ? c.Runtime : "null") << " " << (c.Xdg ? c.Xdg : "null");
    }
}

TEST_F(InstanceLocks, TheStatusDirectoryIsMadeOnlyWhereItIsSafe) {
    fs::create_directory(Path("file-parent"));
    std::ofstream(Path("plain")) << "x";
    fs::create_directory_symlink(dir_, Path("link"));
    struct TCase {
        std::string Dir;
        std::string Error;  // empty: usable
    };
    const TCase cases[] = {
        {Path("new"), ""},
        {Path("new"), ""},  // again: it is there and ours
        {Path("plain"), Path("plain") + ": not a directory"},
        {Path("link"), Path("link") + ": not a directory"},
        {Path("missing/sub"), Path("missing/sub") + ": No such file or directory"},
    };
    for (const TCase& c : cases) {
        std::string error;
        EXPECT_EQ(PrepareStatusDirectory(c.Dir, error), c.Error.empty()) << c.Dir;
        EXPECT_EQ(error, c.Error);
    }
    EXPECT_EQ(fs::status(Path("new")).permissions(), fs::perms::owner_all);
    // A status file's lock where no folder is: the reason, not a lock. (A lock held by another
    // station, and one left by a killed station, are rows of station_faults_e2e_test.)
    std::string error;
    EXPECT_EQ(LockStatusFile(Path("missing/status.json"), error), TStatusLock::Failed);
    EXPECT_EQ(error, Path("missing/status.json.lock") + ": No such file or directory");
}

TEST_F(InstanceLocks, TheHolderOfADeviceIsFoundByItsLockElseByItsOpenFiles) {
    const std::string device = Path("device");
    std::ofstream(device) << "x";
    const int fd = open(device.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    // Open here only: nobody else holds it, and it is not locked.
    EXPECT_EQ(DeviceHolders(device), std::vector<std::string>{});
    EXPECT_FALSE(DeviceLockedByAnother(device));
    EXPECT_FALSE(DeviceLockedByAnother(Path("missing")));
    // A fake /proc: process 42 holds the lock, 43 has the file open.
    fs::create_directories(Path("proc/42/fd"));
    fs::create_directories(Path("proc/43/fd"));
    std::ofstream(Path("proc/42/comm")) << "station\n";
    std::ofstream(Path("proc/43/comm")) << "reader\n";
    fs::create_symlink(device, Path("proc/43/fd/5"));
    EXPECT_EQ(DeviceHolders(device, Path("proc")), std::vector<std::string>{"43 (reader)"});
    struct stat st {};
    ASSERT_EQ(stat(device.c_str(), &st), 0);
    char line[128];
    std::snprintf(line, sizeof line, "1: FLOCK  ADVISORY  WRITE 42 %02x:%02x:%llu 0 EOF\n",
                  major(st.st_dev), minor(st.st_dev), (unsigned long long)st.st_ino);
    std::ofstream(Path("proc/locks")) << "1: FLOCK  ADVISORY  WRITE 7 00:01:1 0 EOF\n" << line;
    EXPECT_EQ(DeviceHolders(device, Path("proc")), std::vector<std::string>{"42 (station)"});
    // Locked by another process: seen, and left locked.
    const pid_t child = fork();
    if (child == 0) {
        const int own = open(device.c_str(), O_RDWR);
        flock(own, LOCK_EX);
        pause();
        _exit(0);
    }
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = DeviceLockedByAnother(device);
        usleep(10000);
    }
    EXPECT_TRUE(seen);
    EXPECT_NE(DeviceHolders(device), std::vector<std::string>{});
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(DeviceLockedByAnother(device));
    close(fd);
}
