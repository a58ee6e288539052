#include "support/e2e_fixture.h"

#include <signal.h>

#include <QApplication>
#include <fstream>
#include <sstream>

#include "about/version.h"
#include "main/application.h"
#include "main/block_event.h"
#include "support/qt_wait.h"

using namespace std::chrono_literals;

double ProcessCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold blanks and parentheses: the fields follow the last ')'.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(close + 1));
    std::vector<std::string> values;
    for (std::string field; fields >> field;) {
        values.push_back(field);
    }
    // State is field 3 of the file; utime and stime are fields 14 and 15.
    if (values.size() < 13) {
        return -1;
    }
    const double ticks = std::stod(values[11]) + std::stod(values[12]);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int64_t ProcessBytesRead(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/io");
    for (std::string name; in >> name;) {
        int64_t value = 0;
        in >> value;
        if (name == "rchar:") {
            return value;
        }
    }
    return -1;
}

bool TBlockObserver::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == TBlockEvent::BlockType) {
        const TDataBlock* block = static_cast<TBlockEvent*>(event)->Block();
        if (block != nullptr && block->Header) {
            blockCounts_.push_back(block->Header->BlockCount);
        }
    }
    return QObject::eventFilter(watched, event);
}

std::string TEndToEndTest::Path(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
}

void TEndToEndTest::WriteSettings(const std::string& text) const {
    std::ofstream(SettingsPath()) << text;
}

TIniFile TEndToEndTest::SavedSettings() const {
    TIniFile ini;
    EXPECT_TRUE(ini.Load(SettingsPath())) << SettingsPath();
    return ini;
}

std::string TEndToEndTest::JournalPath() const {
    return Path("sim-" + std::to_string(sims_) + ".journal");
}

void TEndToEndTest::StartSim(std::vector<std::string> options) {
    ASSERT_TRUE(dir_.isValid());
    ++sims_;
    options.insert(options.begin(), DIGITIZER_SIM);
    options.insert(options.end(), {"--link", LinkPath(), "--journal"});
    options.push_back(JournalPath());
    sim_ = std::make_unique<TChild>(options);
    const auto lines = sim_->ReadLines(1, 10s);
    ASSERT_FALSE(lines.empty()) << "digitizer-sim did not start: " << sim_->Errors();
}

void TEndToEndTest::KillSim() {
    sim_->Signal(SIGKILL);
    EXPECT_EQ(sim_->Wait(10s), 128 + SIGKILL) << sim_->Errors();
}

void TEndToEndTest::StopSim() {
    sim_->Signal(SIGTERM);
    EXPECT_EQ(sim_->Wait(10s), 0) << sim_->Errors();
}

void TEndToEndTest::PowerCycleSim() {
    sim_->Signal(SIGUSR1);
}

TSimJournalRead TEndToEndTest::Journal() const {
    return TSimJournalRead::Load(JournalPath());
}

void TEndToEndTest::StartProgram() {
    program_ = std::make_unique<TChild>(
        std::vector<std::string>{KESTREL32, LinkPath(), "--settings", SettingsPath()},
        std::vector<std::string>{"QT_QPA_PLATFORM=offscreen"});
}

double TEndToEndTest::ProgramCpuSeconds() const {
    return ProcessCpuSeconds(program_->Pid());
}

void TEndToEndTest::OpenWindow() {
    // As main() does: the ending signals, the application's identity, the window on the
    // device named on the command line, closed by those signals.
    InstallTerminationSignals();
    SetUpApplication(QString::fromLatin1(ProgramVersion));
    TStartOptions options;
    options.SettingsPath = SettingsPath();
    options.Device = LinkPath();
    form_ = std::make_unique<TMainForm>(options);
    form_->Prompts().SetMessageSink([this](const QString& text) { messages_.push_back(text); });
    form_->Prompts().SetReportSink([this](const QString& text) { messages_.push_back(text); });
    form_->Prompts().SetConfirmHook([this](const QString& text) {
        questions_.push_back(text);
        return false;
    });
    CloseOnTerminationSignal(form_.get());
    // Installed after the window's own hook, so it sees each block first.
    observer_ = std::make_unique<TBlockObserver>();
    qApp->installEventFilter(observer_.get());
    form_->show();
}

int64_t TEndToEndTest::ProgramBytesRead() const {
    return ProcessBytesRead(program_->Pid());
}

bool TEndToEndTest::WaitUntil(const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout) {
    return QtWaitFor(condition, timeout);
}

void TEndToEndTest::TearDown() {
    form_.reset();  // the link stops before the unit it is connected to
    observer_.reset();
    program_.reset();
    sim_.reset();
}
