#include "main/helicorder_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "main/graph_resources.h"
#include "main/prompts.h"
#include "main/widgets.h"
#include "main/zoom_buttons.h"
#include "monitor/monitor_model.h"
#include "monitor/zoom_steps.h"

namespace {

constexpr int HourChoices[] = {24, 12, 6, 1};
constexpr int RowChoices[] = {15, 30, 60};

template <size_t N>
int IndexOf(const int (&choices)[N], int value) {
    const auto* found = std::find(std::begin(choices), std::end(choices), value);
    return found == std::end(choices) ? 0 : static_cast<int>(found - std::begin(choices));
}

// The save dialog of the picture: PNG files; a file in a folder that does not exist is refused
// with a message and the dialog stays open when it is Qt's own.
class TPictureSaveDialog : public QFileDialog {
  public:
    TPictureSaveDialog(QWidget* parent, TPrompts& prompts)
        : QFileDialog(parent, THelicorderPage::tr("Save the helicorder picture")),
          prompts_(prompts) {
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
        setNameFilters({QStringLiteral("PNG Images (*.png)"), QStringLiteral("All Files (*)")});
        setDefaultSuffix(QStringLiteral("png"));
    }
    bool Refused() const { return refused_; }
    void accept() override {
        const QStringList files = selectedFiles();
        const QString refusal =
            files.isEmpty() ? QString() : TTextFileSaveDialog::FolderRefusal(files.constFirst());
        refused_ = !refusal.isEmpty();
        if (refused_) {
            prompts_.Error(this, refusal);
            if (findChild<QWidget*>(QStringLiteral("fileNameEdit")) != nullptr) {
                return;  // Qt's own dialog stays open for another choice
            }
        }
        QFileDialog::accept();
    }

  private:
    TPrompts& prompts_;
    bool refused_ = false;
};

}  // namespace

THelicorderView::THelicorderView(QWidget* parent) : TGraphView(parent) {
    setMinimumSize(200, 120);
}

void THelicorderView::paintEvent(QPaintEvent* event) {
    (void)event;
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
}

void THelicorderView::resizeEvent(QResizeEvent* event) {
    image_ = QImage(event->size(), QImage::Format_RGB32);
    image_.fill(Qt::black);
    TGraphView::resizeEvent(event);
}

THelicorderPage::THelicorderPage(TMonitorModel& model, const TGraphResources& resources,
                                 TPrompts& prompts, QWidget* parent)
    : TGraphPage(model, {}, 4, parent), resources_(resources), prompts_(prompts) {
    BuildControls();
    ShowSettings();
}

void THelicorderPage::BuildControls() {
    QFrame* toolBar = ToolBar();
    auto* channelCaption = new QLabel(tr("Channel"), toolBar);
    channel_ = MakeDropDown(QStringLiteral("HeliChannel"),
                            {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                             QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6")},
                            toolBar);
    QStringList hours;
    for (const int h : HourChoices) {
        hours << (h == 1 ? tr("1 hour") : tr("%1 hours").arg(h));
    }
    hours_ = MakeDropDown(QStringLiteral("HeliHours"), hours, toolBar);
    auto* rowCaption = new QLabel(tr("Rows of"), toolBar);
    QStringList rows;
    for (const int m : RowChoices) {
        rows << tr("%1 min").arg(m);
    }
    rowMinutes_ = MakeDropDown(QStringLiteral("HeliRowMinutes"), rows, toolBar);
    rowMinutes_->setToolTip(tr("Each row starts at a whole multiple of its length, in UTC"));
    bandpass_ = MakeCheck(QStringLiteral("HeliBandpass"), tr("Band-pass"), false, toolBar);
    bandpass_->setToolTip(tr("The trace through the trigger's band-pass (Events page)"));
    AddTools({channelCaption, channel_, hours_, rowCaption, rowMinutes_, bandpass_});
    TZoomButtons* zoom = AddZoomButtons(QStringLiteral("Heli"));
    gainLabel_ = new QLabel(toolBar);
    gainLabel_->setObjectName(QStringLiteral("HeliGain"));
    gainLabel_->setToolTip(
        tr("The zoom on the automatic scale, which makes the noise of the "
           "hours shown an eighth of a row"));
    AddTools({gainLabel_});
    AddToolStretch();
    saveButton_ = MakeButton(QStringLiteral("HeliSaveButton"), tr("Save Picture..."), toolBar);
    AddTools({saveButton_});

    view_ = new THelicorderView(this);
    view_->setObjectName(QStringLiteral("HeliView"));
    Column()->addWidget(view_, 1);

    for (QComboBox* combo : {channel_, hours_, rowMinutes_}) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this] { TakeControls(); });
    }
    connect(bandpass_, &QCheckBox::toggled, this, [this] { TakeControls(); });
    connect(zoom, &TZoomButtons::Zoomed, this, [this] {
        model_.Settings().HelicorderGain = static_cast<int32_t>(std::lround(std::log2(Zoom())));
        ShowSettings();
        Redraw(true);
    });
    connect(saveButton_, &QPushButton::clicked, this, [this] { SavePicture(); });
    connect(view_, &THelicorderView::Resized, this, [this] {
        drawn_ = false;
        if (isVisible()) {
            Redraw(true);
        }
    });
}

// The settings into the controls, without their handlers.
void THelicorderPage::ShowSettings() {
    const TSettings& s = model_.Settings();
    TZoomButtons* zoom = ZoomButtons();
    const QSignalBlocker b1(channel_), b2(hours_), b3(rowMinutes_), b4(bandpass_), b5(zoom);
    channel_->setCurrentIndex(std::clamp(s.HelicorderChannel, 1, 6) - 1);
    hours_->setCurrentIndex(IndexOf(HourChoices, s.HelicorderHours));
    rowMinutes_->setCurrentIndex(IndexOf(RowChoices, s.HelicorderRowMinutes));
    bandpass_->setChecked(s.HelicorderBandpass != 0);
    while (std::lround(std::log2(Zoom())) < s.HelicorderGain && Zoom() < MaxZoom) {
        zoom->ZoomInClick();
    }
    UpdateZoomButtons(true);
    gainLabel_->setText(tr("auto x%1").arg(Zoom(), 0, 'f', 0));
}

void THelicorderPage::TakeControls() {
    TSettings& s = model_.Settings();
    s.HelicorderChannel = channel_->currentIndex() + 1;
    s.HelicorderHours = HourChoices[std::clamp(hours_->currentIndex(), 0, 3)];
    s.HelicorderRowMinutes = RowChoices[std::clamp(rowMinutes_->currentIndex(), 0, 2)];
    s.HelicorderBandpass = bandpass_->isChecked() ? 1 : 0;
    Redraw(true);
}

QString THelicorderPage::Title(const THelicorderDraw& draw) const {
    const TSettings& s = model_.Settings();
    const auto civil = TBlockTime{draw.Rows.Start(draw.Rows.Count) - 1}.Civil();
    const QString date = QStringLiteral("%1-%2-%3")
                             .arg(static_cast<long long>(civil.Year), 4, 10, QLatin1Char('0'))
                             .arg(civil.Month, 2, 10, QLatin1Char('0'))
                             .arg(civil.Day, 2, 10, QLatin1Char('0'));
    const TDetectorSettings& trigger = model_.Events().Settings();
    const QString filter = draw.Series == THelicorder::TSeries::Filtered
                               ? tr("band-pass %1-%2 Hz, %3 poles")
                                     .arg(trigger.Band.LowHz)
                                     .arg(trigger.Band.HighHz)
                                     .arg(trigger.Band.Poles)
                               : tr("unfiltered");
    return tr("%1.%2  channel %3  %4 UTC  %5  %6 counts a row")
        .arg(QString::fromStdString(s.Network), QString::fromStdString(s.Station))
        .arg(draw.Channel + 1)
        .arg(date, filter)
        .arg(QLocale().toString(2 * draw.HalfRowCounts, 'f', 0));
}

THelicorderDraw THelicorderPage::MakeDraw(int hours) const {
    const TSettings& s = model_.Settings();
    const THelicorder& source = model_.Helicorder();
    THelicorderDraw draw;
    draw.Source = &source;
    draw.Events = &model_.Events().Events();
    draw.Channel = std::clamp(s.HelicorderChannel, 1, 6) - 1;
    draw.Series =
        s.HelicorderBandpass != 0 ? THelicorder::TSeries::Filtered : THelicorder::TSeries::Raw;
    const int64_t newest = source.NewestSlot() >= 0
                               ? source.NewestSlot() / THelicorder::SlotsPerSecond
                               : model_.BlockTime().Seconds;
    draw.Rows = HelicorderRows(newest, hours, s.HelicorderRowMinutes);
    // The automatic scale from the noise of the hours shown, the zoom on top of it.
    const int64_t first = THelicorder::SlotOf(draw.Rows.FirstStart);
    const int64_t end = THelicorder::SlotOf(draw.Rows.Start(draw.Rows.Count));
    draw.HalfRowCounts =
        HelicorderHalfRowCounts(source.MedianSpan(draw.Channel, draw.Series, first, end)) / Zoom();
    draw.Highlight = highlight_;
    draw.Title = Title(draw);
    draw.Background = resources_.WaveBackgroundBrush().color();
    draw.Trace = resources_.WavePen().color();
    draw.Mark = resources_.FirstSamplePen().color();
    draw.Font = font();
    return draw;
}

void THelicorderPage::Redraw(bool whole) {
    const THelicorderDraw draw = MakeDraw(model_.Settings().HelicorderHours);
    QImage& image = view_->Image();
    if (image.isNull()) {
        return;
    }
    const bool sameRows = drawn_ && draw.Rows.FirstStart == draw_.Rows.FirstStart &&
                          draw.Rows.Count == draw_.Rows.Count &&
                          draw.Rows.RowSeconds == draw_.Rows.RowSeconds &&
                          draw.HalfRowCounts == draw_.HalfRowCounts && draw.Title == draw_.Title;
    const int64_t newest = model_.Helicorder().NewestSlot();
    if (whole || !sameRows || drawnSlot_ < 0 || newest < drawnSlot_) {
        picture_.Draw(image, draw);
    } else {
        picture_.DrawRowsFrom(image, draw,
                              draw.Rows.RowOf(drawnSlot_ / THelicorder::SlotsPerSecond));
    }
    draw_ = draw;
    drawn_ = true;
    drawnSlot_ = newest;
    pending_ = false;
    view_->update();
}

void THelicorderPage::FormatChanged() {
    // A channel the blocks no longer carry gives way to the first.
    const int count = model_.ChannelCount();
    if (count > 0 && model_.Settings().HelicorderChannel > count) {
        model_.Settings().HelicorderChannel = 1;
        ShowSettings();
    }
    drawn_ = false;
}

void THelicorderPage::BlockArrived(bool full) {
    pending_ = true;
    if (full) {
        drawn_ = false;
    }
}

void THelicorderPage::ColoursChanged() {
    drawn_ = false;
}

void THelicorderPage::RefreshPage() {
    if (isVisible() && (pending_ || !drawn_)) {
        Redraw(!drawn_);
    }
}

void THelicorderPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Redraw(true);
}

void THelicorderPage::SpanKey(bool longer) {
    // The choices run from the longest: X goes up the list, Z down.
    const int index = hours_->currentIndex() + (longer ? -1 : 1);
    if (index >= 0 && index < hours_->count()) {
        hours_->setCurrentIndex(index);
    }
}

void THelicorderPage::ShowEvent(const TEvent& event) {
    TSettings& s = model_.Settings();
    const std::vector<int> triggered = event.TriggeredChannels();
    if (!triggered.empty() &&
        std::find(triggered.begin(), triggered.end(), s.HelicorderChannel - 1) == triggered.end()) {
        s.HelicorderChannel = triggered.front() + 1;
    }
    const THelicorderDraw draw = MakeDraw(s.HelicorderHours);
    if (event.Start.Seconds < draw.Rows.FirstStart) {
        s.HelicorderHours = 24;
    }
    highlight_ = event.Id;
    ShowSettings();
    Redraw(true);
}

QImage THelicorderPage::DayPicture() const {
    THelicorderDraw draw = MakeDraw(24);
    QImage image(PictureWidth,
                 draw.Rows.Count * PictureRowHeight + THelicorderPicture::Margins(draw.Font),
                 QImage::Format_RGB32);
    THelicorderPicture picture;
    picture.Draw(image, draw);
    return image;
}

bool THelicorderPage::SavePicture() {
    TPictureSaveDialog dialog(this, prompts_);
    const THelicorderDraw draw = MakeDraw(24);
    const int64_t end = draw.Rows.Start(draw.Rows.Count);
    const auto civil = TBlockTime{end - 1}.Civil();
    const QString name = QStringLiteral("helicorder-ch%1-%2%3%4.png")
                             .arg(draw.Channel + 1)
                             .arg(static_cast<long long>(civil.Year), 4, 10, QLatin1Char('0'))
                             .arg(civil.Month, 2, 10, QLatin1Char('0'))
                             .arg(civil.Day, 2, 10, QLatin1Char('0'));
    dialog.setDirectory(QDir::homePath());
    dialog.selectFile(name);
    QString path;
    while (prompts_.Exec(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const QString chosen = dialog.selectedFiles().constFirst();
        const QString refusal = TTextFileSaveDialog::FolderRefusal(chosen);
        if (refusal.isEmpty()) {
            path = chosen;
            break;
        }
        // Said in the dialog's accept when it ran there; asked again either way.
        if (!dialog.Refused()) {
            prompts_.Error(this, refusal);
        }
    }
    if (path.isEmpty()) {
        return false;
    }
    if (!DayPicture().save(path, "PNG")) {
        prompts_.Error(
            this,
            tr("The picture could not be written to %1.").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    return true;
}
