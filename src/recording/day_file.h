// The archive's day files: where a stream's record of a given day goes, and the appending of
// records to it. A file is checked when it is opened: a tail that is not a whole record (a
// process killed or the power cut while writing) is cut off, so that records appended after
// it are read as they should be.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "base/result.h"
#include "seedfile/seed_record.h"
#include "seedfile/seed_time.h"

// ROOT/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DOY for a record starting at `start`. Codes
// are used without padding; a character other than a letter, a digit, "-" or "_" becomes "_"
// so that the file stays inside the root whatever the codes hold.
std::string SdsPath(const std::string& root, const TSeedCodes& codes, TSeedTime start);

// The archive's root made when missing, and checked to be a folder this process can write
// in (a file made in it and removed again); the reason when it is not.
TStatus PrepareArchiveRoot(const std::string& root);

// What a look at a day file found.
struct TDayFileScan {
    off_t WholeLength = 0;       // up to the end of the last whole record
    int LastSequence = 0;        // the highest of the file's records; 0 when it holds none
    bool DamagedInside = false;  // a damaged stretch before whole records: left as it is
};

// The records of the file open as `fd`, `size` bytes long, walked from the start: each must
// have a sequence number, a quality code, a blockette 1000 with its length, and fit. Damage
// with whole records after it is stepped over; only what follows the last whole record is the
// tail to cut, unless it is longer than any record (then it is not taken for one cut short).
TDayFileScan ScanDayFile(int fd, off_t size);

// For tests: called before each record is written with the file's path and the record's
// size, and with size 0 before each sync; a failure it returns is that of the write or the
// sync (a full or a frozen disk, an I/O error).
using TDayFileWriteHook = std::function<TStatus(const std::string& path, size_t size)>;
void SetDayFileWriteHook(TDayFileWriteHook hook);

class TDayFile {
  public:
    TDayFile() = default;
    TDayFile(const TDayFile&) = delete;
    TDayFile& operator=(const TDayFile&) = delete;
    ~TDayFile() { Close(); }

    // Opens `path` for appending (making its directories), unless it is open already, and
    // locks it against other writers. A tail that is not a whole record is cut off; `notice`
    // then says so. Fails when the file cannot be opened or another process holds it.
    TStatus Open(const std::string& path, std::string& notice);
    // Appends one record in one write; on failure (a full disk) the file is cut back as it was.
    // When the path no longer leads to the open file (it was removed or moved away), a new
    // file is opened there first and `notice` says so.
    TStatus Append(std::span<const uint8_t> record, std::string& notice);
    // Asks the system to put what was written on the disk; fails when the disk did not take
    // it (an I/O error: what was written may not be there).
    TStatus Sync();
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    // The highest sequence number of the file's records when it was opened.
    int LastSequence() const { return lastSequence_; }

  private:
    // Whether the path still names the open file.
    bool PathLeadsHere() const;

    std::string path_;
    int fd_ = -1;
    off_t length_ = 0;
    int lastSequence_ = 0;
};
