#include "upload/upload_procedure.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include "digitizer/digitizer.h"
#include "digitizer/port_list.h"
#include "upload/serial_number.h"

const char* const PowerCycleText = "Power digitizer off and back on";
const char* const WaitingBootText = "Waiting for Boot Ready...";
const char* const MissedBootText = "Missed Boot Ready";
const char* const ReadingSerialText = "Reading Serial Number...";
const char* const MissedSerialText = "Missed Serial Number";
const char* const RebootingText = "Rebooting...";
const char* const CancelledText = "Upload Cancelled";
const char* const CompletedText = "Upload Successfully Completed";

namespace {

using namespace std::chrono_literals;

constexpr auto PollPause = 1000ms;
constexpr auto SendingPause = 100ms;
constexpr int BootHandshakes = 5;

}  // namespace

const char* FirmwareFileRole(TFirmwareFile file) {
    switch (file) {
        case TFirmwareFile::Boot:
            return "Boot Code";
        case TFirmwareFile::Main:
            return "Main Code";
        case TFirmwareFile::Filter:
            return "Filter Code";
    }
    return "";
}

TResult<TFirmwareImage> LoadFirmware(const TFirmwareFiles& files) {
    const std::string* paths[3] = {&files.Boot, &files.Main, &files.Filter};
    TFirmwareImage image;
    for (int f = 0; f < 3; ++f) {
        if (paths[f]->empty()) {
            continue;
        }
        THexFile file = LoadHexFile(*paths[f]);
        if (!file) {
            const THexError& error = file.Error();
            const std::string line = error.Line > 0 ? ", line " + std::to_string(error.Line) : "";
            return TError{std::string(FirmwareFileRole(static_cast<TFirmwareFile>(f))) + " file " +
                              *paths[f] + line + ": " + error.Text,
                          error.Errno};
        }
        image.Files[f] = std::move(*file);
    }
    return image;
}

std::string LostWhileSendingText(int record, int total) {
    return "lost the digitizer at record " + std::to_string(record) + " of " +
           std::to_string(total) +
           "; the unit is in its boot loader: power it off and on and upload again";
}

int UploadPercent(int done, int total) {
    return total > 0 ? static_cast<int>(int64_t{done} * 100 / total) : 0;
}

TFirmwareFile UploadFileShown(int done, int bootRecords, int mainRecords) {
    if (done <= bootRecords) {
        return TFirmwareFile::Boot;
    }
    return done <= bootRecords + mainRecords ? TFirmwareFile::Main : TFirmwareFile::Filter;
}

void TSleepWait::Pause(std::chrono::milliseconds duration, const std::function<bool()>& until) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(duration * scale_);
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        if (until && until()) {
            return;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, 10ms));
    }
}

TFirmwareUpload::TFirmwareUpload(TDigitizer& link, uint8_t port, TUploadUser& user,
                                 TUploadWait& wait)
    : link_(link), port_(port), user_(user), wait_(wait) {}

bool TFirmwareUpload::Lost() const {
    const TCommPort* port = link_.Port();
    return link_.HungUp() || (port != nullptr && port->WriteLost() != 0);
}

TUploadError TFirmwareUpload::LostLink(const std::string& text) {
    link_.Stop();
    link_.SetBootWait(false);
    user_.SetWaiting(false);
    user_.SetSending(false);
    Show(text);
    user_.ReportLost(text);
    return Failure(TUploadEnd::LinkLost, EIO);
}

void TFirmwareUpload::Show(const std::string& text) {
    status_ = text;
    user_.ShowStatus(text);
}

bool TFirmwareUpload::PollWhile(int pauses, const std::function<bool()>& waiting,
                                bool cancellable) {
    auto cancelled = [&] { return cancellable && user_.CancelRequested(); };
    for (int i = 0; i < pauses && waiting(); ++i) {
        wait_.Pause(PollPause, [&] { return !waiting() || cancelled(); });
        if (cancelled()) {
            return false;
        }
    }
    return true;
}

bool TFirmwareUpload::PauseSecond() {
    wait_.Pause(PollPause, [&] { return user_.CancelRequested(); });
    return !user_.CancelRequested();
}

TUploadResult TFirmwareUpload::Run(const TFirmwareFiles& files) {
    // Every file is read and checked before anything reaches the unit: a unit left with
    // part of its firmware may not start again.
    const TResult<TFirmwareImage> image = LoadFirmware(files);
    if (!image) {
        user_.Refuse(image.Error().Text);
        return TUploadError{image.Error(), TUploadEnd::Refused};
    }
    if (!user_.ConfirmPowerCycle()) {
        return Failure(TUploadEnd::NotConfirmed);
    }
    link_.SetBootWait(true);
    if (!link_.Start(port_, BootLoaderBaudRate)) {
        const TCommPort* port = link_.Port();
        Show("Failed to open comm " + std::to_string(port_) +
             (port ? ": " + port->OpenResult().Error().Text + "; " +
                         SerialPortsInLine(ListSerialPorts())
                   : std::string()));
        link_.Stop();
        link_.SetBootWait(false);
        return Failure(TUploadEnd::PortFailed, port ? port->OpenResult().Error().Errno : 0);
    }

    user_.SetWaiting(true);
    Show(WaitingBootText);
    const bool waited = PollWhile(
        BootReadyPauses, [&] { return link_.BootWait() && !Lost(); }, true);
    user_.SetWaiting(false);
    if (Lost()) {
        return LostLink(
            "lost the digitizer while waiting for its boot loader: check the "
            "cable, power the unit off and on and upload again");
    }
    if (!waited) {
        // Nothing was sent: without the handshake the unit starts its firmware by itself.
        Show(CancelledText);
        return Failure(TUploadEnd::Cancelled);
    }
    if (link_.BootWait()) {
        Show(MissedBootText);
        return Failure(TUploadEnd::MissedBootReady);
    }

    const TResult<std::string, TUploadError> serial = ReadSerialNumber();
    if (!serial) {
        return serial.Error().End == TUploadEnd::Cancelled ? Finish(true) : serial.Error();
    }
    std::optional<TUploadError> lost;
    const bool sent = SendRecords(*image, files, *serial, lost);
    if (lost) {
        return *lost;
    }
    return Finish(!sent);
}

// Keeps the unit in its boot loader and reads the serial number area. Fails when the
// number was not read, none was given, or the user cancelled.
TResult<std::string, TUploadError> TFirmwareUpload::ReadSerialNumber() {
    link_.SendBH(BootHandshakes);
    bool going = PauseSecond();
    if (going) {
        link_.SendPC0();
        going = PauseSecond();
    }
    if (going) {
        link_.ReadSerialNumber();
        going = PauseSecond();
    }
    if (!going) {
        return Failure(TUploadEnd::Cancelled);
    }
    link_.SendBH(1);  // its removal from the queue ends the capture

    user_.SetWaiting(true);
    Show(ReadingSerialText);
    going = PollWhile(
        SerialNumberPauses, [&] { return link_.ReadBackMode() != 0 && !Lost(); }, true);
    user_.SetWaiting(false);
    if (Lost()) {
        return LostLink(
            "lost the digitizer while reading its serial number, before anything "
            "was written: power it off and on and upload again");
    }
    if (!going) {
        return Failure(TUploadEnd::Cancelled);
    }
    uint8_t bytes[SerialNumberLength] = {};
    // A capture of fewer than 8 bytes would take the rest from whatever the buffer held
    // before: the number is missed, not made up.
    if (link_.ReadBackMode() != 0 ||
        link_.CopyCapture(bytes, SerialNumberLength) < SerialNumberLength) {
        Show(MissedSerialText);
        return Failure(TUploadEnd::MissedSerialNumber);
    }
    std::string serial = SerialNumberText(bytes, [&] { return user_.AskSerialNumber(); });
    if (serial.empty()) {
        return TUploadError{{"no serial number; nothing was written", 0},
                            TUploadEnd::NoSerialNumber};
    }
    return serial;
}

// Queues every data record and the serial number, then follows the acknowledgements.
// False when the user cancelled.
bool TFirmwareUpload::SendRecords(const TFirmwareImage& image, const TFirmwareFiles& files,
                                  const std::string& serial, std::optional<TUploadError>& lost) {
    user_.ShowProgress(0);
    Show("");
    int counts[3] = {};
    for (int f = 0; f < 3; ++f) {
        for (const THexData& record : image.Files[f]) {
            link_.WriteMemory(record.Address, static_cast<uint16_t>(record.Bytes.size()),
                              record.Bytes.data());
            ++counts[f];
        }
    }
    WriteSerialNumber(link_, serial);
    const int total = counts[0] + counts[1] + counts[2] + 2;
    const std::string* paths[3] = {&files.Boot, &files.Main, &files.Filter};

    user_.SetSending(true);
    while (link_.PendingWrites() != 0) {
        if (user_.CancelRequested()) {
            return false;
        }
        const int done = total - link_.PendingWrites();
        // A device that has gone would have the same write sent once a second for ever.
        if (Lost()) {
            lost = LostLink(LostWhileSendingText(std::min(done + 1, total), total));
            return false;
        }
        const std::string& path =
            *paths[static_cast<int>(UploadFileShown(done, counts[0], counts[1]))];
        if (status_ != path) {
            Show(path);
        }
        user_.ShowProgress(UploadPercent(done, total));
        wait_.Pause(SendingPause, {});
    }
    return true;
}

// The final command (or, when cancelled, a fresh start that drops every queued write),
// the reboot, and the wait for the boot loader's ready line.
TUploadResult TFirmwareUpload::Finish(bool cancelled) {
    if (!cancelled) {
        user_.ShowProgress(100);
        link_.SendPC1();
    } else if (!RestartLink()) {
        return LostLink("lost the digitizer: " + link_.Port()->OpenResult().Error().Text +
                        "; the unit is in its boot loader: power it off and on and upload "
                        "again");
    }
    const bool rebooted = RebootAndWait();
    if (!rebooted && Lost()) {
        return LostLink(cancelled ? "lost the digitizer while it rebooted; the unit is in its "
                                    "boot loader: power it off and on and upload again"
                                  : "lost the digitizer after every record was written, before "
                                    "it answered the reboot: power it off and on");
    }
    if (rebooted) {
        Show(cancelled ? CancelledText : CompletedText);
    }
    link_.Stop();
    link_.SetBootWait(false);
    user_.SetWaiting(false);
    user_.SetSending(false);
    if (!rebooted) {
        return Failure(TUploadEnd::RebootTimedOut);
    }
    return cancelled ? Failure(TUploadEnd::Cancelled) : TUploadResult();
}

bool TFirmwareUpload::RebootAndWait() {
    link_.SetBootWait(true);
    link_.Reboot();
    Show(RebootingText);
    user_.SetWaiting(true);
    PollWhile(
        RebootPauses, [&] { return link_.BootWait() && !Lost(); }, false);
    return !link_.BootWait();
}

bool TFirmwareUpload::RestartLink() {
    link_.Stop();
    // The unit still answers what went out last (the link sends its head command once
    // more as it stops). Those bytes arrive while the port is closed and are dropped
    // when it opens again; in the new session they would come before the ready line
    // and hide it.
    wait_.Pause(PollPause, {});
    return link_.Start(port_, BootLoaderBaudRate);
}

bool TFirmwareUpload::RebootUnit() {
    link_.SetBootWait(false);
    const bool rebooted = RestartLink() && RebootAndWait();
    link_.Stop();
    link_.SetBootWait(false);
    user_.SetWaiting(false);
    return rebooted;
}
