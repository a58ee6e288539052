// libFuzzer target: the settings file. Arbitrary bytes are read as a settings file, every
// key is read through LoadSettings, the settings are saved to a file and read back: the
// second reading must give the same settings, and the file must hold what was written.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "monitor/settings.h"
#include "settings/ini_file.h"

namespace {

const std::string& ScratchDir() {
    static const std::string dir = [] {
        // tmpfs when there is one: the save flushes to disk, which is slow elsewhere.
        std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/ini_file_fuzz.XXXXXX"
                                                        : "/tmp/ini_file_fuzz.XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) {
            abort();
        }
        return dir;
    }();
    return dir;
}

const std::string& ScratchFile() {
    static const std::string path = [] {
        ScratchDir();  // made before the handler is registered, so it outlives the handler
        std::atexit([] {
            unlink((ScratchDir() + "/kestrel32.ini").c_str());
            rmdir(ScratchDir().c_str());
        });
        return ScratchDir() + "/kestrel32.ini";
    }();
    return path;
}

void RoundTrip(const TIniFile& file, const TSettingsContext& context) {
    TSettings first = DefaultSettings("/home/fuzz");
    LoadSettings(first, file, context);
    TIniFile written = file;
    SaveSettings(first, written, context);
    if (!written.Save(ScratchFile())) {
        abort();
    }
    TIniFile reread;
    if (!reread.Load(ScratchFile())) {
        abort();
    }
    TIniFile expected;
    expected.Parse(written.Text());
    if (reread.Text() != expected.Text()) {
        abort();
    }
    TSettings second = DefaultSettings("/home/fuzz");
    LoadSettings(second, reread, context);
    if (!(second == first)) {
        abort();
    }
    // Saving again changes nothing.
    TIniFile again = reread;
    SaveSettings(second, again, context);
    if (again.Text() != reread.Text()) {
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > TIniFile::MaxFileSize) {
        return 0;
    }
    TIniFile file;
    file.Parse(std::string(reinterpret_cast<const char*>(data), size));
    RoundTrip(file, TSettingsContext{true, "."});
    RoundTrip(file, TSettingsContext{false, ","});
    return 0;
}
