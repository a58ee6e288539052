// A pseudo-terminal whose master side a test drives by hand, playing the
// digitizer byte by byte while the link under test opens the slave side.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TPtyPeer {
  public:
    TPtyPeer();
    ~TPtyPeer();
    TPtyPeer(const TPtyPeer&) = delete;
    TPtyPeer& operator=(const TPtyPeer&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }

    void Write(const std::vector<uint8_t>& bytes);
    void Write(const std::string& text);
    // Everything that arrives within the given time.
    std::vector<uint8_t> ReadFor(std::chrono::milliseconds duration);
    // Reads until `done` holds for what has arrived (accumulated), or the time
    // runs out; returns whether it held.
    bool ReadUntil(std::vector<uint8_t>& received,
                   const std::function<bool(const std::vector<uint8_t>&)>& done,
                   std::chrono::milliseconds timeout);
    // The speed the slave side was set to.
    speed_t LineSpeed() const;
    // Closes the master: the slave side hangs up.
    void Close();

  private:
    int master_ = -1;
    std::string slavePath_;
};

// Number of times `needle` occurs in `haystack`.
int CountOccurrences(const std::vector<uint8_t>& haystack, const std::string& needle);

// Waits until `condition` holds, polling; false when the time ran out.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
