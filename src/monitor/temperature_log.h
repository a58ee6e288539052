// The temperature log: one text line per block with each channel's newest
// temperature and offset, appended to a file chosen on the Temperatures page.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "monitor/number_format.h"
#include "monitor/temperature_history.h"

// For each channel below channelCount (at most six) with a reading, its newest
// temperature with one decimal and offset (microvolts) with three, as the "n"
// conversion writes them, all comma-separated, then CR LF:
// "23.5,12.346,23.5,-7.500\r\n". A channel without readings adds nothing.
std::string TemperatureLogLine(const TTemperatureHistories& histories, int channelCount,
                               const TNumberSeparators& separators);

// Appends `text` to the file at `path` in one write: the file is opened for
// reading and writing (created when it is missing, mode 0666 less the umask),
// written at its end and closed again. Fails with the system's reason (strerror)
// after cutting off whatever part of `text` did reach the file.
TStatus AppendToFile(const std::string& path, std::string_view text);

class TTemperatureLog {
  public:
    // Logs to `path` from now on. An existing file there is deleted (its
    // overwriting has been confirmed), so that the log starts empty; a file
    // that cannot be deleted is emptied instead.
    void Start(const std::string& path);
    // No more logging.
    void Stop();
    bool Active() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

    // Appends one line. Of a streak of failures only the first is returned, its
    // text the message for the user naming the path and the reason; the others
    // are kept quiet (Ok). After a write that succeeds, the next is told again.
    TStatus Write(std::string_view line);

  private:
    std::string path_;
    bool failing_ = false;
};
