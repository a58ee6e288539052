// One firmware upload through the digitizer's boot loader: the three HEX files read
// and checked whole, the power cycle, the boot loader's ready line, the serial number
// read, every data record written, the serial number written back, the final command
// and the reboot. The run talks to its user (a dialog, a terminal) through
// TUploadUser and waits through TUploadWait, so that both can be replaced.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "upload/hex_file.h"

class TDigitizer;

// Texts of the run.
extern const char* const PowerCycleText;   // "Power digitizer off and back on"
extern const char* const WaitingBootText;  // "Waiting for Boot Ready..."
extern const char* const MissedBootText;   // "Missed Boot Ready"
extern const char* const ReadingSerialText;
extern const char* const MissedSerialText;
extern const char* const RebootingText;
extern const char* const CancelledText;
extern const char* const CompletedText;  // "Upload Successfully Completed"

// The boot loader talks at this rate, whatever rate the unit is set to.
constexpr uint32_t BootLoaderBaudRate = 19200;

// The three files of an upload; an empty path means no file.
struct TFirmwareFiles {
    std::string Boot;
    std::string Main;
    std::string Filter;
};

enum class TFirmwareFile { Boot, Main, Filter };
// "Boot Code", "Main Code", "Filter Code".
const char* FirmwareFileRole(TFirmwareFile file);

// The data records of the three files, in the order they are sent.
struct TFirmwareImage {
    std::array<std::vector<THexData>, 3> Files;
};

// Reads the three files whole (an empty path gives no records). Fails with the refusal: the
// file's role and path, the line and the reason.
TResult<TFirmwareImage> LoadFirmware(const TFirmwareFiles& files);

// The message when the device goes away while records are sent: record `record` of `total`
// was on its way.
std::string LostWhileSendingText(int record, int total);

// While sending: the share of acknowledged writes in percent (whole-number division),
// and the file being sent — the boot file while done <= boot, the main file while
// done <= boot + main, the filter file after that.
int UploadPercent(int done, int total);
TFirmwareFile UploadFileShown(int done, int bootRecords, int mainRecords);

// How a run waits.
class TUploadWait {
  public:
    virtual ~TUploadWait() = default;
    // Waits `duration`, or less once `until` (when given) holds.
    virtual void Pause(std::chrono::milliseconds duration, const std::function<bool()>& until) = 0;
};

// Sleeps, `scale` times the time asked, looking at `until` every few milliseconds.
class TSleepWait : public TUploadWait {
  public:
    explicit TSleepWait(double scale = 1.0) : scale_(scale) {}
    void Pause(std::chrono::milliseconds duration, const std::function<bool()>& until) override;

  private:
    double scale_;
};

// What a run asks of, and tells, its user; called on the thread that runs the upload,
// which may be another than the user's (the dialog runs it on a thread of its own).
class TUploadUser {
  public:
    virtual ~TUploadUser() = default;
    // "Power digitizer off and back on": true to go on.
    virtual bool ConfirmPowerCycle() = 0;
    // The serial number when the unit's could not be read; empty for none.
    virtual std::string AskSerialNumber() = 0;
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void ShowProgress(int percent) = 0;
    // The files cannot be sent: the text names file, line and reason.
    virtual void Refuse(const std::string& problem) = 0;
    // Waiting for the unit (a wait cursor).
    virtual void SetWaiting(bool /*on*/) {}
    // Records are being sent and may be cancelled; turning it on forgets an earlier
    // request to cancel.
    virtual void SetSending(bool /*on*/) {}
    // The device went away: the text says where the run stopped and what to do.
    virtual void ReportLost(const std::string& /*text*/) {}
    // The user wants the run to end: while sending, and also while waiting for the boot
    // loader or the serial number.
    virtual bool CancelRequested() = 0;
};

enum class TUploadEnd {
    Refused,             // a file is not fit to be sent; nothing was sent
    NotConfirmed,        // the power-cycle prompt was not answered OK
    PortFailed,          // the port did not open
    MissedBootReady,     // no "Ready." from the boot loader
    MissedSerialNumber,  // the serial number was not read back
    NoSerialNumber,      // none read and none given
    Completed,           // every write acknowledged, the unit rebooted
    Cancelled,           // cancelled, the unit rebooted (or cancelled before anything was sent)
    RebootTimedOut,      // no "Ready." after the reboot command
    LinkLost,            // the device went away (a cable pulled, an adapter unplugged)
};

// A run that did not complete: how it ended, what went wrong (the refusal, the status shown
// last, or that nothing was written) and the errno of a port that did not open.
struct TUploadError : TError {
    TUploadEnd End = TUploadEnd::Completed;
};
using TUploadResult = TResult<void, TUploadError>;

class TFirmwareUpload {
  public:
    static constexpr int BootReadyPauses = 11;
    static constexpr int SerialNumberPauses = 11;
    static constexpr int RebootPauses = 61;

    // `link` is stopped; its device path is set. The run starts it on `port`.
    TFirmwareUpload(TDigitizer& link, uint8_t port, TUploadUser& user, TUploadWait& wait);

    TUploadResult Run(const TFirmwareFiles& files);

    // After a run that left the unit in its boot loader (the serial number missed or
    // not given): starts the link afresh, reboots the unit and waits for its ready
    // line, then stops the link. True when the unit answered.
    bool RebootUnit();

    // The status text shown last.
    const std::string& Status() const { return status_; }

  private:
    void Show(const std::string& text);
    // Pauses of a second while `waiting` holds, at most `pauses` of them. False when
    // the user asked to cancel (and `cancellable`).
    bool PollWhile(int pauses, const std::function<bool()>& waiting, bool cancellable);
    // A pause of a second; false when the user asked to cancel.
    bool PauseSecond();
    // The device has gone away under the link: it hung up or refused a write.
    bool Lost() const;
    // Stops the link and reports the loss with `text`.
    TUploadError LostLink(const std::string& text);
    // The run's end with the status shown last.
    TUploadError Failure(TUploadEnd end, int error = 0) const { return {{status_, error}, end}; }
    TResult<std::string, TUploadError> ReadSerialNumber();
    // False when the user cancelled; a lost device ends the run with `lost` set.
    bool SendRecords(const TFirmwareImage& image, const TFirmwareFiles& files,
                     const std::string& serial, std::optional<TUploadError>& lost);
    TUploadResult Finish(bool cancelled);
    // The link stopped and started again at the boot loader's rate: every queued
    // command is dropped. False when the device did not open again.
    bool RestartLink();
    // The reboot command and the wait for the ready line; true when it came.
    bool RebootAndWait();

    TDigitizer& link_;
    uint8_t port_;
    TUploadUser& user_;
    TUploadWait& wait_;
    std::string status_;
};
