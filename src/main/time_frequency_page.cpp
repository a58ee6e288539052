#include "main/time_frequency_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "colours/colour_value.h"
#include "main/display_checks.h"
#include "main/spin_edit.h"
#include "main/time_frequency_legend.h"
#include "main/widgets.h"
#include "monitor/monitor_model.h"

namespace {

constexpr int BandGap = 3;
constexpr const char* PointChoices[] = {"256", "512", "1024", "2048", "4096"};

QSpinBox* MakeDbSpin(const QString& name, int minimum, int maximum, QWidget* parent) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(minimum, maximum);
    spin->setToolTip(QObject::tr("Power spectral density, dB of full scale squared per Hz"));
    return spin;
}

}  // namespace

// --- TTimeFrequencyView ---

TTimeFrequencyView::TTimeFrequencyView(QWidget* parent) : TGraphView(parent) {
    setMouseTracking(true);
    setMinimumSize(120, 60);
}

int TTimeFrequencyView::BandAt(QPoint point) const {
    for (size_t i = 0; i < bands_.size(); ++i) {
        if (bands_[i].Plot.contains(point)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void TTimeFrequencyView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (frame_.size() != size()) {
        painter.fillRect(rect(), Qt::black);
    }
    // The frame only where no band image and no time label covers it.
    QRegion rest = event->region();
    for (const TBand& band : bands_) {
        painter.drawImage(band.Plot.topLeft(), images_[static_cast<size_t>(band.Channel)]);
        rest -= band.Plot;
    }
    painter.drawImage(timeStripOrigin_, timeStrip_);
    rest -= QRect(timeStripOrigin_, timeStrip_.size());
    for (const QRect& part : rest) {
        painter.drawImage(part.topLeft(), frame_, part);
    }
}

// --- TTimeFrequencyPage ---

TTimeFrequencyPage::TTimeFrequencyPage(TMonitorModel& model,
                                       std::function<void()> refreshActivePage, QWidget* parent)
    : TGraphPage(model, std::move(refreshActivePage), 3, parent) {
    displayed_.fill(true);
    BuildControls();
    ColoursChanged();
    ShowSettings();
}

void TTimeFrequencyPage::BuildControls() {
    QFrame* toolBar = ToolBar();
    QStringList points;
    for (const char* choice : PointChoices) {
        points << QString::fromLatin1(choice);
    }
    points_ = MakeDropDown(QStringLiteral("SpectrogramPoints"), points, toolBar);
    points_->setToolTip(tr("FFT length (points); the transforms overlap by half"));
    autoRange_ = MakeCheck(QStringLiteral("SpectrogramAutoRange"), tr("Auto"), true, toolBar);
    autoRange_->setToolTip(tr("Colour range from the noise floor to the highest level"));
    minDb_ = MakeDbSpin(QStringLiteral("SpectrogramMinDb"), -250, 49, toolBar);
    maxDb_ = MakeDbSpin(QStringLiteral("SpectrogramMaxDb"), -249, 50, toolBar);
    logFrequency_ = MakeCheck(QStringLiteral("SpectrogramLog"), tr("Log f"), true, toolBar);
    logFrequency_->setToolTip(tr("Logarithmic frequency axis"));
    maxHz_ = new QSpinBox(toolBar);
    maxHz_->setObjectName(QStringLiteral("SpectrogramMaxHz"));
    maxHz_->setRange(0, 1500);
    maxHz_->setSuffix(tr(" Hz"));
    maxHz_->setSpecialValueText(tr("All Hz"));
    maxHz_->setKeyboardTracking(false);
    maxHz_->setToolTip(tr("The highest frequency shown; All Hz: up to half the sample rate"));
    minutes_ = new TSpinEdit(toolBar);
    minutes_->setObjectName(QStringLiteral("SpectrogramMinutes"));
    minutes_->setRange(SpectrogramMinMinutes, SpectrogramMaxMinutes);
    minutes_->setToolTip(tr("Minutes shown"));
    SetSpanField(minutes_);
    AddTools({new QLabel(tr("FFT"), toolBar), points_, autoRange_, minDb_,
              new QLabel(tr("to"), toolBar), maxDb_, new QLabel(tr("dB"), toolBar), logFrequency_,
              maxHz_, new QLabel(tr("Minutes"), toolBar), minutes_});
    AddDisplayChecks(QStringLiteral("SDisp"));

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    view_ = new TTimeFrequencyView(this);
    view_->setObjectName(QStringLiteral("SpectrogramView"));
    body->addWidget(view_, 1);
    legend_ = new TTimeFrequencyLegend(this);
    legend_->setObjectName(QStringLiteral("SpectrogramLegend"));
    body->addWidget(legend_);
    Column()->addLayout(body, 1);
    readout_ = new QLabel(this);
    readout_->setObjectName(QStringLiteral("SpectrogramReadout"));
    readout_->setContentsMargins(4, 2, 4, 2);
    // A long reading never widens the page (and so the window).
    readout_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Column()->addWidget(readout_);

    connect(points_, &QComboBox::currentIndexChanged, this, [this] { PointsChange(); });
    connect(autoRange_, &QCheckBox::toggled, this, [this] { AutoRangeClick(); });
    connect(minDb_, &QSpinBox::valueChanged, this, [this] { MinDbChange(); });
    connect(maxDb_, &QSpinBox::valueChanged, this, [this] { MaxDbChange(); });
    connect(logFrequency_, &QCheckBox::toggled, this, [this] { LogFrequencyClick(); });
    connect(minutes_, &TSpinEdit::Changed, this, [this] { MinutesChange(); });
    connect(maxHz_, &QSpinBox::valueChanged, this, [this] {
        model_.Settings().SpectrogramMaxHz = maxHz_->value();
        SettingChanged();
    });
    connect(view_, &TTimeFrequencyView::Resized, this, [this] { SettingChanged(); });
    connect(view_, &TTimeFrequencyView::MouseMoved, this,
            [this](QPoint point) { ViewMouseMove(point); });
}

void TTimeFrequencyPage::ShowSettings() {
    const TSettings& settings = model_.Settings();
    {
        const QSignalBlocker pointsBlocker(points_);
        const QSignalBlocker autoBlocker(autoRange_);
        const QSignalBlocker minBlocker(minDb_);
        const QSignalBlocker maxBlocker(maxDb_);
        const QSignalBlocker logBlocker(logFrequency_);
        const QSignalBlocker minutesBlocker(minutes_);
        const QSignalBlocker maxHzBlocker(maxHz_);
        maxHz_->setValue(settings.SpectrogramMaxHz);
        const int points = points_->findText(QString::number(settings.SpectrogramPoints));
        points_->setCurrentIndex(points >= 0 ? points : 2);
        autoRange_->setChecked(settings.SpectrogramAutoRange != 0);
        minDb_->setValue(settings.SpectrogramMinDb);
        maxDb_->setValue(settings.SpectrogramMaxDb);
        minDb_->setEnabled(settings.SpectrogramAutoRange == 0);
        maxDb_->setEnabled(settings.SpectrogramAutoRange == 0);
        logFrequency_->setChecked(settings.SpectrogramLogFrequency != 0);
        minutes_->setValue(settings.SpectrogramMinutes);
    }
    spectrogram_.SetPoints(settings.SpectrogramPoints);
    spectrogram_.SetSpanMinutes(settings.SpectrogramMinutes);
    range_ = {static_cast<double>(settings.SpectrogramMinDb),
              static_cast<double>(settings.SpectrogramMaxDb)};
    legend_->SetRange(range_);
}

void TTimeFrequencyPage::ResetDisplays() {
    readout_->clear();
}

void TTimeFrequencyPage::MonitoringStarted() {
    spectrogram_.Reset();
    automaticShown_ = false;
    stale_ = true;
}

void TTimeFrequencyPage::FormatChanged() {
    spectrogram_.Reset();
    automaticShown_ = false;
    const int count = model_.Format().ChannelCount;
    if (count >= 1 && count <= MaxChannels) {
        std::fill(displayed_.begin() + count, displayed_.end(), false);
    }
    DisplayChecks()->EnableDisplayChecks(count, displayed_);
    readout_->clear();
    stale_ = true;
}

void TTimeFrequencyPage::BlockArrived(bool full) {
    spectrogram_.TakeNewSamples(model_.Channels(), model_.ChannelCount(),
                                model_.Format().SampleRate,
                                static_cast<double>(model_.BlockTime().Seconds));
    if (!isVisible()) {
        stale_ = true;  // drawn whole when shown
        return;
    }
    Redraw(full);
}

void TTimeFrequencyPage::ColoursChanged() {
    const TSettings& settings = model_.Settings();
    const QColor background = ColourFromSetting(settings.FftBgdCol);
    background_ = background.rgb();
    textColour_ = ColourFromSetting(settings.FftFgdCol);
    legend_->SetColours(background, textColour_);
    layoutKey_ = TLayoutKey{};  // the frame made again
    SettingChanged();
}

void TTimeFrequencyPage::RefreshPage() {
    view_->update();
}

void TTimeFrequencyPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_ || CurrentLayoutKey() != layoutKey_) {
        Redraw(true);
    }
}

QString TTimeFrequencyPage::Readout() const {
    return readout_->text();
}

// --- Drawing ---

TTimeFrequencyPage::TLayoutKey TTimeFrequencyPage::CurrentLayoutKey() const {
    TLayoutKey key;
    key.ViewSize = view_->size();
    key.Displayed = displayed_;
    key.ChannelCount = model_.ChannelCount();
    key.Points = spectrogram_.Points();
    key.Rate = spectrogram_.Rate();
    key.Log = model_.Settings().SpectrogramLogFrequency != 0;
    key.SpanColumns = spectrogram_.SpanColumns();
    key.MaxHz = model_.Settings().SpectrogramMaxHz;
    return key;
}

void TTimeFrequencyPage::LayOut() {
    const QFontMetrics metrics(view_->font());
    const int line = metrics.height();
    const int left = metrics.horizontalAdvance(QStringLiteral("00.00k")) + 8;
    const int stripHeight = line + 6;
    const int width = view_->width();
    const int height = view_->height();
    const int plotWidth = std::max(width - left - 2, 1);

    std::vector<TTimeFrequencyView::TBand> bands;
    for (int c = 0; c < model_.ChannelCount(); ++c) {
        if (displayed_[static_cast<size_t>(c)]) {
            bands.push_back({c, QRect()});
        }
    }
    const int count = static_cast<int>(bands.size());
    const int bandHeight =
        count > 0 ? std::max((height - stripHeight - BandGap * (count - 1)) / count, 1) : 1;
    for (int i = 0; i < count; ++i) {
        bands[static_cast<size_t>(i)].Plot =
            QRect(left, i * (bandHeight + BandGap), plotWidth, bandHeight);
    }
    for (int c = 0; c < MaxChannels; ++c) {
        const bool shown =
            std::any_of(bands.begin(), bands.end(),
                        [c](const TTimeFrequencyView::TBand& b) { return b.Channel == c; });
        QImage image;
        if (shown) {
            image = QImage(plotWidth, bandHeight, QImage::Format_RGB32);
            image.fill(background_);
        }
        view_->Image(c) = std::move(image);
    }
    view_->SetBands(std::move(bands));
    // The time strip under the plots only: the frequency axis' unit stays beside it.
    view_->TimeStrip() = QImage(std::max(width - left, 1), stripHeight, QImage::Format_RGB32);
    view_->TimeStrip().fill(background_);
    view_->SetTimeStripOrigin(QPoint(left, height - stripHeight));
    raster_.Layout(plotWidth, bandHeight, spectrogram_.Points(), spectrogram_.BinWidth(),
                   model_.Settings().SpectrogramLogFrequency != 0, spectrogram_.SpanColumns(),
                   model_.Settings().SpectrogramMaxHz);
    rowLevels_.assign(static_cast<size_t>(bandHeight), 0);
    layoutKey_ = CurrentLayoutKey();
    DrawFrame();
}

void TTimeFrequencyPage::DrawFrame() {
    QImage& frame = view_->Frame();
    frame = QImage(view_->size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    frame.fill(background_);
    QPainter painter(&frame);
    painter.setFont(view_->font());
    painter.setPen(textColour_);
    const QFontMetrics metrics(view_->font());
    const int line = metrics.height();
    const double binWidth = spectrogram_.BinWidth();
    const double top = raster_.TopFrequency();
    // The frequencies labelled, lowest first.
    std::vector<double> ticks;
    if (binWidth > 0 && raster_.Height() > 0) {
        if (raster_.LogFrequency()) {
            for (double decade = std::pow(10.0, std::floor(std::log10(binWidth))); decade <= top;
                 decade *= 10) {
                for (const double m : {1.0, 2.0, 5.0}) {
                    if (m * decade >= binWidth * (1 - 1e-9) && m * decade <= top * (1 + 1e-9)) {
                        ticks.push_back(m * decade);
                    }
                }
            }
        } else {
            const double step = FrequencyTickStep(top / raster_.Height(), line * 3 / 2);
            for (double f = 0; f <= top * (1 + 1e-9); f += step) {
                ticks.push_back(f);
            }
        }
    }
    for (const TTimeFrequencyView::TBand& band : view_->Bands()) {
        const QRect plot = band.Plot;
        const QRect name(2, plot.top(), plot.left() - 4, line);
        painter.drawText(name, Qt::AlignLeft | Qt::AlignVCenter, tr("Ch%1").arg(band.Channel + 1));
        int lastY = plot.bottom() + line;
        for (const double f : ticks) {
            const std::optional<double> y = raster_.FrequencyY(f);
            if (!y) {
                continue;
            }
            const int at = plot.top() + std::min(static_cast<int>(*y), plot.height() - 1);
            if (lastY - at < line || at - line / 2 < name.bottom()) {
                continue;  // too close to the label below, or to the channel's name
            }
            painter.drawLine(plot.left() - 3, at, plot.left() - 1, at);
            painter.drawText(QRect(0, at - line / 2, plot.left() - 5, line),
                             Qt::AlignRight | Qt::AlignVCenter,
                             QString::fromStdString(FrequencyTickText(f, model_.Separators())));
            lastY = at;
        }
    }
    // The frequency axis' unit below its labels, beside the time strip.
    const QPoint strip = view_->TimeStripOrigin();
    painter.drawText(QRect(0, strip.y(), std::max(strip.x() - 4, 1), line + 6),
                     Qt::AlignRight | Qt::AlignVCenter, tr("Hz"));
}

bool TTimeFrequencyPage::UpdateRange() {
    const TSettings& settings = model_.Settings();
    TDbRange range = range_;
    if (settings.SpectrogramAutoRange != 0) {
        std::array<bool, MaxChannels> chosen = displayed_;
        for (int c = model_.ChannelCount(); c < MaxChannels; ++c) {
            chosen[static_cast<size_t>(c)] = false;
        }
        if (const std::optional<TDbRange> automatic = spectrogram_.AutoRange(chosen)) {
            range = automaticShown_ ? TSpectrogram::SteadyRange(range_, *automatic) : *automatic;
            automaticShown_ = true;
            // The disabled fields show the range in force.
            const QSignalBlocker minBlocker(minDb_);
            const QSignalBlocker maxBlocker(maxDb_);
            minDb_->setValue(static_cast<int>(range.Min));
            maxDb_->setValue(static_cast<int>(range.Max));
        }
    } else {
        range = {static_cast<double>(settings.SpectrogramMinDb),
                 static_cast<double>(settings.SpectrogramMaxDb)};
        automaticShown_ = false;
    }
    legend_->SetRange(range);
    const bool changed = range != range_;
    range_ = range;
    return changed;
}

void TTimeFrequencyPage::Redraw(bool whole) {
    if (CurrentLayoutKey() != layoutKey_) {
        LayOut();
        whole = true;
    }
    whole = UpdateRange() || whole || stale_;
    for (const TTimeFrequencyView::TBand& band : view_->Bands()) {
        DrawChannel(band.Channel, whole);
    }
    DrawTimeStrip();
    stale_ = false;
}

void TTimeFrequencyPage::DrawChannel(int channel, bool whole) {
    QImage& image = view_->Image(channel);
    if (image.isNull()) {
        return;
    }
    const int width = image.width();
    const int64_t right = raster_.LastPixel(spectrogram_.Columns(channel).Total());
    int64_t& drawn = rightPixel_[static_cast<size_t>(channel)];
    if (!whole && right == drawn) {
        return;
    }
    int first = 0;
    if (!whole && right > drawn && right - drawn < width) {
        // Scrolled left by the new pixels, which are drawn at the right.
        const int shift = static_cast<int>(right - drawn);
        uchar* bits = image.bits();
        const qsizetype stride = image.bytesPerLine();
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<uint32_t*>(bits + y * stride);
            std::memmove(row, row + shift, static_cast<size_t>(width - shift) * sizeof(uint32_t));
        }
        first = width - shift;
    }
    for (int x = first; x < width; ++x) {
        DrawPixelColumn(image, x, channel, right - (width - 1 - x));
    }
    drawn = right;
}

void TTimeFrequencyPage::DrawPixelColumn(QImage& image, int x, int channel, int64_t pixel) {
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const int height = std::min(image.height(), static_cast<int>(rowLevels_.size()));
    if (!raster_.PixelLevels(spectrogram_.Columns(channel), pixel, rowLevels_)) {
        for (int y = 0; y < height; ++y) {
            reinterpret_cast<uint32_t*>(bits + y * stride)[x] = background_;
        }
        return;
    }
    const std::array<uint32_t, 256>& colours = SpectrogramColours();
    for (int y = 0; y < height; ++y) {
        reinterpret_cast<uint32_t*>(bits + y * stride)[x] =
            colours[static_cast<size_t>(ColourIndex(rowLevels_[static_cast<size_t>(y)], range_))];
    }
}

void TTimeFrequencyPage::DrawTimeStrip() {
    QImage& strip = view_->TimeStrip();
    strip.fill(background_);
    timeLabels_.clear();
    const std::vector<TTimeFrequencyView::TBand>& bands = view_->Bands();
    if (bands.empty() || raster_.Width() <= 0 || spectrogram_.ColumnSeconds() <= 0) {
        return;
    }
    // The time at the right edge, from the first band with columns.
    double newest = 0;
    bool found = false;
    for (const TTimeFrequencyView::TBand& band : bands) {
        const TSpectrogramColumns& columns = spectrogram_.Columns(band.Channel);
        const int64_t last =
            std::min(raster_.PixelColumns(rightPixel_[static_cast<size_t>(band.Channel)]).Last,
                     columns.Total() - 1);
        if (columns.Holds(last)) {
            newest = columns.Time(last);
            found = true;
            break;
        }
    }
    QPainter painter(&strip);
    painter.setFont(view_->font());
    painter.setPen(textColour_);
    const QFontMetrics metrics(view_->font());
    // The strip starts at the plots' left edge; "UTC" at its right end.
    const QString utc = tr("UTC");
    const int utcLeft = strip.width() - metrics.horizontalAdvance(utc) - 2;
    const QRect utcRect(utcLeft, 2, strip.width() - utcLeft, strip.height() - 2);
    painter.drawText(utcRect, Qt::AlignLeft | Qt::AlignVCenter, utc);
    timeLabels_.push_back(utcRect);
    if (!found) {
        return;
    }
    const double secondsPerPixel =
        spectrogram_.ColumnSeconds() * spectrogram_.SpanColumns() / raster_.Width();
    const int gap = metrics.horizontalAdvance(QStringLiteral("0"));
    const double step = TimeTickStep(
        secondsPerPixel, metrics.horizontalAdvance(QStringLiteral("00:00:00")) + 2 * gap);
    const int right = raster_.Width() - 1;
    // From the newest tick leftwards; a label that would reach into the one drawn after it
    // (or into "UTC") is left out, its tick kept.
    int freeRight = utcLeft - gap;
    for (double t = std::floor(newest / step) * step;; t -= step) {
        const int x = right - static_cast<int>(std::lround((newest - t) / secondsPerPixel));
        if (x < 0) {
            break;
        }
        painter.drawLine(x, 0, x, 2);
        const QString text = QString::fromStdString(TimeTickText(t, step));
        const int width = metrics.horizontalAdvance(text);
        const int labelLeft = std::max(x - width / 2, 0);
        if (labelLeft + width > freeRight) {
            continue;
        }
        const QRect label(labelLeft, 2, width, strip.height() - 2);
        painter.drawText(label, Qt::AlignCenter, text);
        timeLabels_.insert(timeLabels_.begin(), label);  // drawn leftwards
        freeRight = labelLeft - gap;
    }
}

void TTimeFrequencyPage::SettingChanged() {
    if (isVisible()) {
        Redraw(true);
        view_->update();
    } else {
        stale_ = true;
    }
}

// --- Event handlers ---

void TTimeFrequencyPage::PointsChange() {
    const int points = points_->currentText().toInt();
    model_.Settings().SpectrogramPoints = points;
    spectrogram_.SetPoints(points);
    SettingChanged();
}

void TTimeFrequencyPage::AutoRangeClick() {
    TSettings& settings = model_.Settings();
    const bool on = autoRange_->isChecked();
    settings.SpectrogramAutoRange = on ? 1 : 0;
    if (!on) {
        // A fixed range starts from the one in force.
        settings.SpectrogramMinDb = minDb_->value();
        settings.SpectrogramMaxDb = maxDb_->value();
    }
    minDb_->setEnabled(!on);
    maxDb_->setEnabled(!on);
    SettingChanged();
}

void TTimeFrequencyPage::MinDbChange() {
    if (minDb_->value() >= maxDb_->value()) {
        const QSignalBlocker blocker(maxDb_);
        maxDb_->setValue(minDb_->value() + 1);
    }
    model_.Settings().SpectrogramMinDb = minDb_->value();
    model_.Settings().SpectrogramMaxDb = maxDb_->value();
    SettingChanged();
}

void TTimeFrequencyPage::MaxDbChange() {
    if (maxDb_->value() <= minDb_->value()) {
        const QSignalBlocker blocker(minDb_);
        minDb_->setValue(maxDb_->value() - 1);
    }
    model_.Settings().SpectrogramMinDb = minDb_->value();
    model_.Settings().SpectrogramMaxDb = maxDb_->value();
    SettingChanged();
}

void TTimeFrequencyPage::LogFrequencyClick() {
    model_.Settings().SpectrogramLogFrequency = logFrequency_->isChecked() ? 1 : 0;
    SettingChanged();
}

void TTimeFrequencyPage::MinutesChange() {
    const int minutes = std::clamp(minutes_->value(), SpectrogramMinMinutes, SpectrogramMaxMinutes);
    model_.Settings().SpectrogramMinutes = minutes;
    spectrogram_.SetSpanMinutes(minutes);
    SettingChanged();
}

void TTimeFrequencyPage::DisplayToggled(int channel, bool checked) {
    if (channel >= 0 && channel < MaxChannels) {
        displayed_[static_cast<size_t>(channel)] = checked;
        SettingChanged();
    }
}

void TTimeFrequencyPage::ViewMouseMove(QPoint point) {
    const int index = view_->BandAt(point);
    if (index < 0) {
        return;
    }
    const TTimeFrequencyView::TBand& band = view_->Bands()[static_cast<size_t>(index)];
    const int channel = band.Channel;
    const TSpectrogramColumns& columns = spectrogram_.Columns(channel);
    const int x = point.x() - band.Plot.left();
    const int y = point.y() - band.Plot.top();
    const int64_t pixel = rightPixel_[static_cast<size_t>(channel)] - (band.Plot.width() - 1 - x);
    const std::optional<int16_t> level = raster_.PixelLevel(columns, pixel, y);
    if (!level) {
        readout_->setText(tr("Channel %1").arg(channel + 1));
        return;
    }
    const int64_t last =
        std::clamp(raster_.PixelColumns(pixel).Last, columns.Oldest(), columns.Total() - 1);
    readout_->setText(QString::fromStdString(
        SpectrogramReadout(channel, columns.Time(last), raster_.RowFrequency(y),
                           DbFromLevel(*level), model_.Separators())));
}
