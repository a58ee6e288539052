// Writing a whole buffer through interrupted and short writes, and replacing a file as one step.
#include "base/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class TTempDir {
  public:
    TTempDir() {
        std::string pattern = (fs::temp_directory_path() / "files_test.XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TTempDir() {
        chmod(path_.c_str(), 0700);
        fs::remove_all(path_);
    }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

mode_t Permissions(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Bytes that show a lost, doubled or reordered piece.
std::string Pattern(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return text;
}

class TUmask {
  public:
    explicit TUmask(mode_t mask) : old_(umask(mask)) {}
    ~TUmask() { umask(old_); }

  private:
    mode_t old_;
};

// Runs `body` without the right to write into folders it does not own: as the user nobody
// when the test runs as root (root writes everywhere), else as it is. Returns the errno it
// gave, -1 when it could not be run.
int ErrnoWithoutRoot(const std::function<int()>& body) {
    if (geteuid() != 0) {
        return body();
    }
    const pid_t child = fork();
    if (child == 0) {
        _exit(setgid(65534) == 0 && setuid(65534) == 0 ? body() : 255);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

}  // namespace

TEST(ReplaceFileDurably, ReplacesAsAWholeOrLeavesTheOldFile) {
    enum class TTarget { None, File, Directory };
    struct TCase {
        const char* Name;
        TTarget Target;
        mode_t OldMode;  // of the existing file
        mode_t NewMode;  // asked for a new file
        std::string Contents;
        int WriterErrno;     // the writer fails with it, 0 when it writes
        int Errno;           // expected, 0 when it succeeds
        mode_t Permissions;  // expected when it succeeds
    };
    const std::string binary = Pattern(3 << 20) + std::string("\0\r\n\0", 4);
    const std::vector<TCase> cases = {
        {"new file, mode less the umask", TTarget::None, 0, 0666, "a=1\n", 0, 0, 0644},
        {"new file, own mode", TTarget::None, 0, 0600, "", 0, 0, 0600},
        {"new file, megabytes with NULs", TTarget::None, 0, 0644, binary, 0, 0, 0644},
        {"existing file keeps its mode", TTarget::File, 0640, 0666, "b=2\n", 0, 0, 0640},
        {"existing private file stays private", TTarget::File, 0600, 0644, binary, 0, 0, 0600},
        {"existing file to empty", TTarget::File, 0664, 0644, "", 0, 0, 0664},
        {"a directory in the way", TTarget::Directory, 0, 0644, "c", 0, EISDIR, 0},
        {"the writer fails", TTarget::File, 0644, 0644, "d", ENOSPC, ENOSPC, 0},
    };
    const TUmask mask(022);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir dir;
        const std::string path = dir.File("target");
        const std::string old = "old contents\n";
        if (c.Target == TTarget::File) {
            std::ofstream(path, std::ios::binary) << old;
            ASSERT_EQ(chmod(path.c_str(), c.OldMode), 0);
        } else if (c.Target == TTarget::Directory) {
            ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
        }
        const TStatus replaced =
            c.WriterErrno == 0
                ? ReplaceFileDurably(path, c.Contents, c.NewMode)
                : ReplaceFileDurably(
                      path,
                      [&](int fd) -> TStatus {
                          EXPECT_TRUE(WriteAll(fd, "half"));  // a part that must not appear
                          return SystemError("write", c.WriterErrno);
                      },
                      c.NewMode);
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"target"}) << "no temporary file left";
        if (c.Errno == 0) {
            ASSERT_TRUE(replaced) << replaced.Error().Text;
            EXPECT_TRUE(ReadFile(path) == c.Contents);
            EXPECT_EQ(Permissions(path), c.Permissions);
            continue;
        }
        ASSERT_FALSE(replaced);
        EXPECT_EQ(replaced.Error().Errno, c.Errno);
        EXPECT_EQ(replaced.Error().Text, path + ": " + std::strerror(c.Errno));
        if (c.Target == TTarget::File) {
            EXPECT_EQ(ReadFile(path), old);
            EXPECT_EQ(Permissions(path), c.OldMode);
        } else {
            EXPECT_TRUE(fs::is_directory(path));
        }
    }
}

TEST(ReplaceFileDurably, RefusesWhatCannotBeAFileInAWritableFolder) {
    TTempDir dir;
    const struct {
        std::string Path;
        int Errno;
    } cases[] = {
        {dir.File("missing/target"), ENOENT},
        {dir.Path() + "/", EISDIR},  // names a folder, not a file in it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        const TStatus replaced = ReplaceFileDurably(c.Path, "x");
        ASSERT_FALSE(replaced);
        EXPECT_EQ(replaced.Error().Errno, c.Errno);
        EXPECT_EQ(replaced.Error().Text.rfind(c.Path + ": ", 0), 0u) << replaced.Error().Text;
    }
    EXPECT_TRUE(dir.Entries().empty());

    // A folder it may not write in: the old file stays, nothing is added beside it.
    const std::string path = dir.File("target");
    std::ofstream(path) << "old";
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    const int error = ErrnoWithoutRoot([&] {
        const TStatus replaced = ReplaceFileDurably(path, "new");
        return replaced ? 0 : replaced.Error().Errno;
    });
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"target"});
}

namespace {

std::atomic<int> Interruptions{0};

void CountInterruption(int) {
    Interruptions.fetch_add(1);
}

}  // namespace

// A reader that takes a few hundred bytes at a time and a signal (without SA_RESTART) between
// its reads: the writes block on the full pipe and are cut short or interrupted again and
// again, and every byte still arrives once, in order.
TEST(WriteAll, GoesOnThroughShortAndInterruptedWrites) {
    struct sigaction action {};
    struct sigaction old {};
    action.sa_handler = CountInterruption;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ASSERT_EQ(sigaction(SIGUSR1, &action, &old), 0);
    Interruptions = 0;

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string data = Pattern(1 << 20);
    std::string received;
    const pthread_t writer = pthread_self();
    std::thread reader([&] {
        char piece[700];
        for (int round = 0;; ++round) {
            if (round % 4 == 0) {
                pthread_kill(writer, SIGUSR1);
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            const ssize_t n = read(fds[0], piece, sizeof piece);
            if (n <= 0) {
                break;
            }
            received.append(piece, size_t(n));
        }
    });
    size_t written = 0;
    const TStatus status = WriteAll(fds[1], data.data(), data.size(), &written);
    close(fds[1]);
    reader.join();
    close(fds[0]);
    sigaction(SIGUSR1, &old, nullptr);

    EXPECT_TRUE(status) << status.Error().Text;
    EXPECT_EQ(written, data.size());
    EXPECT_GT(Interruptions.load(), 10);
    EXPECT_TRUE(received == data) << received.size() << " of " << data.size() << " bytes";
}

// A pipe that takes a part and then would block, and one that nobody reads: the error and how
// far it got.
TEST(WriteAll, SaysHowFarItGotWhenItFails) {
    const std::string data = Pattern(4 << 20);
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    const int capacity = fcntl(fds[1], F_GETPIPE_SZ);
    size_t written = 0;
    TStatus status = WriteAll(fds[1], data.data(), data.size(), &written);
    EXPECT_EQ(status.Error().Errno, EAGAIN);
    EXPECT_EQ(written, size_t(capacity));
    std::string back(size_t(capacity), '\0');
    EXPECT_EQ(read(fds[0], back.data(), back.size()), capacity);
    EXPECT_TRUE(back == data.substr(0, size_t(capacity)));

    close(fds[0]);
    const auto oldPipe = signal(SIGPIPE, SIG_IGN);
    status = WriteAll(fds[1], data.data(), 10, &written);
    signal(SIGPIPE, oldPipe);
    close(fds[1]);
    EXPECT_EQ(status.Error().Errno, EPIPE);
    EXPECT_EQ(status.Error().Text, std::string("write: ") + std::strerror(EPIPE));
    EXPECT_EQ(written, 0u);
}
