// Which unit an archive's codes belong to.
#include "recording/archive_owners.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(ArchiveOwners, TheFirstUnitKeepsItsCodesAndAnotherIsToldWhoseTheyAre) {
    const fs::path archive = fs::temp_directory_path() / ("owners_" + std::to_string(getpid()));
    fs::remove_all(archive);
    struct TCase {
        std::string Codes, Serial, Owner;
    };
    const TCase cases[] = {
        {"XX.ST01.", "A001", "A001"},    // the first claims them (the archive made too)
        {"XX.ST01.", "A001", "A001"},    // the same unit started again keeps them
        {"XX.ST01.", "B002", "A001"},    // another unit with the same codes is refused
        {"XX.ST02.", "B002", "B002"},    // other codes are free
        {"XX.ST01.00", "B002", "B002"},  // so is another location
    };
    for (const TCase& c : cases) {
        const TArchiveClaim claim = ClaimArchiveCodes(archive.string(), c.Codes, c.Serial);
        EXPECT_EQ(claim.Error, "") << c.Codes << " " << c.Serial;
        EXPECT_EQ(claim.Owner, c.Owner) << c.Codes << " " << c.Serial;
    }
    std::ifstream file(archive / ".owners" / "XX.ST01.");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "A001\n");
    // An archive that cannot be made: no owner, and why.
    std::ofstream(archive / "plain") << "x";
    const TArchiveClaim blocked =
        ClaimArchiveCodes((archive / "plain").string(), "XX.ST01.", "A001");
    EXPECT_EQ(blocked.Owner, "");
    EXPECT_NE(blocked.Error.find((archive / "plain" / ".owners").string() + ": "),
              std::string::npos)
        << blocked.Error;
    fs::remove_all(archive);
}
