#include "support/window_fixture.h"

#include <QTimer>
#include <fstream>

#include "support/qt_wait.h"

TSimConfig TWindowTest::SimConfig() {
    TSimConfig config;
    config.Channels = 3;
    config.Rate = 100;
    config.Mde = true;
    config.Speed = 5;
    return config;
}

std::string TWindowTest::SettingsPath() const {
    return dir_.filePath(QStringLiteral("kestrel32.ini")).toStdString();
}

void TWindowTest::WriteSettings(const std::string& text) const {
    std::ofstream(SettingsPath()) << text;
}

void TWindowTest::StartSim(const TSimConfig& config) {
    sim_ = std::make_unique<TDigitizerSim>(config);
    ASSERT_TRUE(sim_->Start()) << sim_->LastError();
}

void TWindowTest::Open(const std::string& device) {
    TStartOptions options;
    options.SettingsPath = SettingsPath();
    options.Device = device;
    // As with --simulate, the upload's power-cycle prompt switches the simulator.
    if (sim_) {
        options.PowerCycle = [this] { sim_->PowerCycle(); };
    }
    form_ = std::make_unique<TMainForm>(options);
    form_->Prompts().SetMessageSink([this](const QString& text) { messages_.push_back(text); });
    form_->Prompts().SetConfirmHook([this](const QString& text) {
        questions_.push_back(text);
        return answer_;
    });
    form_->show();
}

void TWindowTest::Launch(const TSimConfig& config) {
    StartSim(config);
    if (!HasFatalFailure()) {
        Open(sim_->DevicePath());
    }
}

void TWindowTest::OpenSilent() {
    peer_ = std::make_unique<TPtyPeer>();
    Open(peer_->SlavePath());
    form_->Timer()->stop();
}

void TWindowTest::TearDown() {
    form_.reset();  // the link stops before the simulator it is connected to
    if (sim_) {
        sim_->Stop();
    }
}

int TWindowTest::Received(const std::string& letters) const {
    int n = 0;
    for (const auto& command : sim_->ReceivedCommands()) {
        n += command.Name == letters ? 1 : 0;
    }
    return n;
}

size_t TWindowTest::Blocks() const {
    return form_->Model().Temperatures()[0].size();
}

bool TWindowTest::WaitForBlocks(size_t count, std::chrono::milliseconds timeout) {
    return QtWaitFor([&] { return Blocks() >= count; }, timeout);
}
