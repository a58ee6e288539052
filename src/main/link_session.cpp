#include "main/link_session.h"

#include <QTimer>

#include "digitizer/protocol.h"

TLinkSession::TLinkSession(TDigitizer::TPostFunction post, QObject* parent)
    : QObject(parent), post_(std::move(post)), timer_(new QTimer(this)) {
    timer_->setObjectName(QStringLiteral("Timer"));
    timer_->setInterval(TimerIntervalMs);
    connect(timer_, &QTimer::timeout, this, [this] { TimerTimer(); });
}

TLinkSession::~TLinkSession() {
    Close();
}

bool TLinkSession::Open(uint8_t port, uint32_t baud, const std::string& device) {
    port_ = port;
    baud_ = baud;
    link_ = std::make_unique<TDigitizer>(port, baud, post_, device);
    timer_->start();
    return Opened();
}

bool TLinkSession::Opened() {
    const TCommPort* port = link_->Port();
    if (port != nullptr && port->IsOpen()) {
        openFailure_.clear();
        return true;
    }
    openFailure_ = port != nullptr ? port->OpenErrorText() : std::string();
    Stop();
    return false;
}

void TLinkSession::Close() {
    timer_->stop();
    link_.reset();
}

std::optional<int32_t> TLinkSession::BaudRate() const {
    if (const TCommPort* port = Port()) {
        return static_cast<int32_t>(port->BaudRate());
    }
    return std::nullopt;
}

bool TLinkSession::Start(uint8_t port, uint32_t baud, const std::string& device) {
    timer_->stop();
    LinkWatchdog = 0;
    port_ = port;
    baud_ = baud;
    link_->SetDevicePath(device);
    link_->Start(port, baud);
    timer_->start();
    return Opened();
}

void TLinkSession::Stop() {
    timer_->stop();
    link_->Stop();
}

void TLinkSession::Reconnect(uint32_t baud) {
    timer_->stop();
    const TCommPort* port = link_->Port();
    const uint8_t portNumber = port ? port->PortNumber() : port_;
    int watchdog = CommandWatchdog;
    if (baud == 0) {
        const uint32_t current = port ? port->BaudRate() : baud_;
        baud = static_cast<uint32_t>(BaudCycleNext(static_cast<int32_t>(current)));
        watchdog = 0;
    }
    link_->Stop();
    emit Reconnecting(baud);
    port_ = portNumber;
    baud_ = baud;
    link_->Start(portNumber, baud);
    LinkWatchdog = watchdog;
    timer_->start();
}

void TLinkSession::TimerTimer() {
    if (--LinkWatchdog < -1) {
        emit Searching();
        Reconnect(0);
    }
}
