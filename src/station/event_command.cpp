#include "station/event_command.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

std::string SecondsText(std::chrono::nanoseconds duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(duration).count());
    return text;
}

// The station's environment with `values` set over it.
std::vector<std::string> EnvironmentWith(const TEventCommand::TValues& values) {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& value : values) {
            replaced = replaced || value.first == name;
        }
        if (!replaced) {
            entries.push_back(text);
        }
    }
    for (const auto& value : values) {
        entries.push_back(value.first + "=" + value.second);
    }
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

TResult<std::vector<std::string>> SplitCommand(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    enum class TQuote { None, Single, Double } quote = TQuote::None;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            return TError{"a command must not contain control characters"};
        }
        if (c == 0x7F) {
            return TError{"a command must not contain control characters"};
        }
        if (quote == TQuote::Single) {
            if (c == '\'') {
                quote = TQuote::None;
            } else {
                word += c;
            }
        } else if (quote == TQuote::Double) {
            if (c == '"') {
                quote = TQuote::None;
            } else if (c == '\\' && i + 1 < text.size() &&
                       (text[i + 1] == '"' || text[i + 1] == '\\')) {
                word += text[++i];
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t') {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            inWord = true;
            if (c == '\'') {
                quote = TQuote::Single;
            } else if (c == '"') {
                quote = TQuote::Double;
            } else if (c == '\\') {
                if (i + 1 >= text.size()) {
                    return TError{"a command must not end with a \\"};
                }
                word += text[++i];
            } else {
                word += c;
            }
        }
    }
    if (quote != TQuote::None) {
        return TError{std::string("the ") + (quote == TQuote::Single ? "'" : "\"") +
                      " quote is not closed"};
    }
    if (inWord) {
        words.push_back(word);
    }
    if (words.empty()) {
        return TError{"the command is empty"};
    }
    if (words.front().empty()) {
        return TError{"the program's name is empty"};
    }
    return words;
}

TEventCommand::TEventCommand(std::vector<std::string> words, std::chrono::milliseconds limit,
                             std::chrono::milliseconds grace, std::string option)
    : words_(std::move(words)), limit_(limit), grace_(grace), option_(std::move(option)) {}

std::string TEventCommand::Name() const {
    return "the " + option_ + " command";
}

TEventCommand::~TEventCommand() {
    Stop();
}

std::string TEventCommand::Start(const std::string& what, const TValues& values,
                                 TClock::time_point now) {
    if (pid_ > 0) {
        ++skipped_;
        return Name() + " is not run for " + what + ": the one for " + what_ + " still runs";
    }
    if (words_.empty()) {
        ++failed_;
        return Name() + " for " + what + " cannot start: it is empty";
    }
    std::vector<std::string> args = words_;
    std::vector<std::string> environment = EnvironmentWith(values);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // The station's own descriptors (the serial port, the archive, sockets) stay its own.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal :
         {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM}) {
        sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int error =
        words_.front().find('/') != std::string::npos
            ? posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data())
            : posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        ++failed_;
        return Name() + " for " + what + " cannot start: " + words_.front() + ": " +
               std::strerror(error);
    }
    ++started_;
    pid_ = pid;
    what_ = what;
    since_ = now;
    termSent_ = false;
    killSent_ = false;
    limitReached_ = false;
    return Name() + " for " + what + " started (process " + std::to_string(pid) + ")";
}

std::string TEventCommand::Ended(int status, TClock::time_point now) {
    std::string how;
    if (WIFEXITED(status)) {
        how = "exited with status " + std::to_string(WEXITSTATUS(status));
        if (WEXITSTATUS(status) != 0) {
            ++failed_;
        }
    } else if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = strsignal(signal);
        how = "was ended by signal " + std::to_string(signal) +
              (name != nullptr ? std::string(" (") + name + ")" : std::string());
        ++failed_;
    } else {
        how = "ended";
    }
    if (limitReached_) {
        how += ", stopped at its time limit of " + SecondsText(limit_);
    }
    pid_ = -1;
    return Name() + " for " + what_ + " " + how + " after " + SecondsText(now - since_);
}

std::vector<std::string> TEventCommand::Service(TClock::time_point now) {
    std::vector<std::string> lines;
    if (pid_ <= 0) {
        return lines;
    }
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    while (done < 0 && errno == EINTR) {
        done = waitpid(pid_, &status, WNOHANG);
    }
    if (done == pid_) {
        lines.push_back(Ended(status, now));
        return lines;
    }
    if (done < 0) {
        // Not our child any more (reaped elsewhere): nothing left to wait for.
        lines.push_back(Name() + " for " + what_ + " was lost: " + std::strerror(errno));
        pid_ = -1;
        return lines;
    }
    if (!termSent_ && now - since_ >= limit_) {
        kill(-pid_, SIGTERM);
        termSent_ = true;
        limitReached_ = true;
        termAt_ = now;
        lines.push_back(Name() + " for " + what_ + " still runs at its time limit of " +
                        SecondsText(limit_) + ": SIGTERM sent");
    } else if (termSent_ && !killSent_ && now - termAt_ >= grace_) {
        kill(-pid_, SIGKILL);
        killSent_ = true;
        lines.push_back(Name() + " for " + what_ + " is still there " + SecondsText(grace_) +
                        " after SIGTERM: SIGKILL sent");
    }
    return lines;
}

std::vector<std::string> TEventCommand::Stop() {
    std::vector<std::string> lines;
    if (pid_ <= 0) {
        return lines;
    }
    const TClock::time_point start = TClock::now();
    if (!termSent_) {
        kill(-pid_, SIGTERM);
        termSent_ = true;
        termAt_ = start;
        lines.push_back(Name() + " for " + what_ +
                        " still runs as the station stops: SIGTERM sent");
    }
    while (pid_ > 0) {
        const TClock::time_point now = TClock::now();
        int status = 0;
        const pid_t done = waitpid(pid_, &status, killSent_ ? 0 : WNOHANG);
        if (done == pid_) {
            lines.push_back(Ended(status, now));
        } else if (done < 0 && errno != EINTR) {
            pid_ = -1;
        } else if (!killSent_ && now - termAt_ >= grace_) {
            kill(-pid_, SIGKILL);
            killSent_ = true;
            lines.push_back(Name() + " for " + what_ + " is still there " + SecondsText(grace_) +
                            " after SIGTERM: SIGKILL sent");
        } else if (done == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return lines;
}
