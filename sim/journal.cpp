#include "sim/journal.h"

#include <cerrno>
#include <cstring>

bool TSimJournal::Open(const std::string& path, std::string& error) {
    Close();
    file_ = std::fopen(path.c_str(), "we");
    if (file_ == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    start_ = std::chrono::steady_clock::now();
    return true;
}

void TSimJournal::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void TSimJournal::Write(std::string_view text) {
    if (file_ == nullptr) {
        return;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(file_, "%.3f %.*s\n", seconds, static_cast<int>(text.size()), text.data());
    std::fflush(file_);
}
