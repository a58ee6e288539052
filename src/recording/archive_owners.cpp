#include "recording/archive_owners.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/files.h"

TArchiveClaim ClaimArchiveCodes(const std::string& archive, const std::string& codes,
                                const std::string& serialNumber) {
    TArchiveClaim claim;
    const std::string dir = archive + "/.owners";
    const std::string path = dir + "/" + codes;
    std::error_code failure;
    std::filesystem::create_directories(dir, failure);
    if (failure) {
        claim.Error = dir + ": " + failure.message();
        return claim;
    }
    const int lock = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        claim.Error = dir + ": " + std::strerror(errno);
        if (lock >= 0) {
            close(lock);
        }
        return claim;
    }
    std::ifstream file(path);
    std::string owner;
    if (file && std::getline(file, owner) && !owner.empty()) {
        claim.Owner = owner;
    } else if (const TStatus written = ReplaceFileDurably(path, serialNumber + "\n", 0644);
               !written) {
        claim.Error = written.Error().Text;
    } else {
        claim.Owner = serialNumber;
    }
    close(lock);  // lets go of the lock
    return claim;
}
