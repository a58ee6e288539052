#include "main/event_dialog.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int PictureWidth = 960;
constexpr int TraceHeight = 44;
constexpr QRgb Background = 0xffffffff;
constexpr QRgb RawTrace = 0xff000000;
constexpr QRgb FilteredTrace = 0xff006030;

double Seconds(const TSampleTime& time) {
    return static_cast<double>(time.Seconds) + time.Nanoseconds * 1e-9;
}

}  // namespace

TEventDialog::TEventDialog(const TEvent& event, const THelicorder& source, const QString& band,
                           QWidget* parent)
    : QDialog(parent), id_(event.Id) {
    setObjectName(QStringLiteral("EventDialog"));
    std::vector<int> triggered = event.TriggeredChannels();
    QStringList channels;
    for (const int c : triggered) {
        channels << QString::number(c + 1);
    }
    setWindowTitle(tr("Event %1: %2 UTC, %3 s, channels %4")
                       .arg(event.Id)
                       .arg(QString::fromStdString(
                           FormatSampleTime(event.Start).replace(10, 1, " ").substr(0, 22)))
                       .arg(event.Seconds(), 0, 'f', 1)
                       .arg(channels.join(QStringLiteral(", "))));
    Draw(event, source, band);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(windowTitle(), this));
    auto* view = new QLabel(this);
    view->setObjectName(QStringLiteral("EventPicture"));
    view->setPixmap(QPixmap::fromImage(picture_));
    layout->addWidget(view);
}

double TEventDialog::Margin(const TEvent& event) {
    return std::max(10.0, event.Seconds() / 4);
}

int TEventDialog::XOf(const TSampleTime& time) const {
    const double share = (Seconds(time) - from_) / (to_ - from_);
    return plotLeft_ + static_cast<int>(std::floor(share * plotWidth_));
}

void TEventDialog::Draw(const TEvent& event, const THelicorder& source, const QString& band) {
    from_ = Seconds(event.Start) - Margin(event);
    to_ = Seconds(event.End) + Margin(event);
    const QFont font = this->font();
    const QFontMetrics metrics(font);
    const int line = metrics.height();
    plotLeft_ = metrics.horizontalAdvance(QStringLiteral("Ch6 band-passed ")) + 8;
    plotWidth_ = PictureWidth - plotLeft_ - 8;
    const int64_t firstSlot = THelicorder::SlotOf(static_cast<int64_t>(std::floor(from_)));
    const int64_t lastSlot = THelicorder::SlotOf(static_cast<int64_t>(std::ceil(to_)));

    // The channels with samples in the time shown, each as it came and band-passed.
    struct TTrace {
        int Channel;
        THelicorder::TSeries Series;
    };
    std::vector<TTrace> traces;
    for (int c = 0; c < MaxChannels; ++c) {
        if (!source.Range(c, THelicorder::TSeries::Raw, firstSlot, lastSlot).Empty()) {
            traces.push_back({c, THelicorder::TSeries::Raw});
            traces.push_back({c, THelicorder::TSeries::Filtered});
        }
    }
    const int axis = line + 8;
    picture_ = QImage(PictureWidth,
                      std::max<int>(1, static_cast<int>(traces.size())) * TraceHeight + axis + 4,
                      QImage::Format_RGB32);
    picture_.fill(Background);
    QPainter painter(&picture_);
    painter.setFont(font);
    const double slotsPerPixel =
        (to_ - from_) * THelicorder::SlotsPerSecond / static_cast<double>(plotWidth_);
    const auto slotAt = [&](int x) {
        return THelicorder::SlotOf(0) +
               static_cast<int64_t>(
                   std::floor(from_ * THelicorder::SlotsPerSecond + x * slotsPerPixel));
    };
    for (size_t i = 0; i < traces.size(); ++i) {
        const TTrace& trace = traces[i];
        const int top = static_cast<int>(i) * TraceHeight;
        const double middle = top + TraceHeight / 2.0;
        if (trace.Series == THelicorder::TSeries::Raw && i > 0) {
            painter.setPen(QColor(0xc0, 0xc0, 0xc0));
            painter.drawLine(0, top, PictureWidth, top);
        }
        // Each trace scaled to its own largest excursion about its mean.
        const double centre = source.Centre(trace.Channel, trace.Series, firstSlot, lastSlot);
        const THelicorder::TRange whole =
            source.Range(trace.Channel, trace.Series, firstSlot, lastSlot);
        const double reach = std::max({whole.Max - centre, centre - whole.Min, 1.0});
        const double scale = (TraceHeight / 2.0 - 3) / reach;
        painter.setPen(QColor(0x40, 0x40, 0x40));
        const QString name = trace.Series == THelicorder::TSeries::Raw
                                 ? tr("Ch%1 raw").arg(trace.Channel + 1)
                                 : tr("Ch%1 %2").arg(trace.Channel + 1).arg(band);
        painter.drawText(QRect(4, top + 2, plotLeft_ - 8, line), Qt::AlignLeft, name);
        painter.drawText(QRect(4, top + 2 + line, plotLeft_ - 8, line), Qt::AlignLeft,
                         tr("±%1").arg(std::llround(reach)));
        painter.setPen(trace.Series == THelicorder::TSeries::Raw ? QColor(RawTrace)
                                                                 : QColor(FilteredTrace));
        for (int x = 0; x < plotWidth_; ++x) {
            const int64_t from = slotAt(x);
            const int64_t to = std::max(from + 1, slotAt(x + 1));
            const THelicorder::TRange range = source.Range(trace.Channel, trace.Series, from, to);
            if (range.Empty()) {
                continue;
            }
            const int y0 = static_cast<int>(std::lround(middle - (range.Max - centre) * scale));
            const int y1 = static_cast<int>(std::lround(middle - (range.Min - centre) * scale));
            painter.drawLine(plotLeft_ + x, y0, plotLeft_ + x, y1);
        }
        // The channel's own trigger on its traces.
        for (const TEventChannel& channel : event.Channels) {
            if (channel.Channel == trace.Channel && channel.Triggered) {
                const int x = XOf(channel.FirstTrigger);
                painter.fillRect(QRect(x - 1, top + 2, 3, TraceHeight - 4), TriggerColour());
            }
        }
    }
    const int bottom = static_cast<int>(traces.size()) * TraceHeight;
    // The event's start and end across every trace.
    painter.fillRect(QRect(XOf(event.Start), 0, 1, bottom), StartColour());
    painter.fillRect(QRect(XOf(event.End), 0, 1, bottom), EndColour());
    // Seconds from the start along the bottom.
    painter.setPen(Qt::black);
    painter.drawLine(plotLeft_, bottom, plotLeft_ + plotWidth_ - 1, bottom);
    const double span = to_ - from_;
    double step = 1;
    for (const double candidate : {1.0, 2.0, 5.0, 10.0, 20.0, 30.0, 60.0, 120.0, 300.0}) {
        step = candidate;
        if (plotWidth_ * candidate / span >=
            metrics.horizontalAdvance(QStringLiteral("-000 s")) + 8) {
            break;
        }
    }
    const double start = Seconds(event.Start);
    for (double t = std::ceil((from_ - start) / step) * step; start + t <= to_; t += step) {
        const int x =
            plotLeft_ + static_cast<int>(std::floor((start + t - from_) / span * plotWidth_));
        painter.drawLine(x, bottom, x, bottom + 3);
        const QString text = t == 0 ? tr("0 s") : QString::number(t);
        const int width = metrics.horizontalAdvance(text);
        painter.drawText(QRect(x - width / 2, bottom + 4, width, line), Qt::AlignCenter, text);
    }
}
