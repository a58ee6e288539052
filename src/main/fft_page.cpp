#include "main/fft_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QSignalBlocker>

#include "fft/fft_windows.h"
#include "main/band_list.h"
#include "main/details_panel.h"
#include "main/fft_trace.h"
#include "main/widgets.h"
#include "monitor/fft_details.h"

namespace {

constexpr const char* PointChoices[] = {"1024", "2048", "4096", "8192"};

}  // namespace

TFftPage::TFftPage(TMonitorModel& model, const TGraphResources& resources,
                   std::function<void()> refreshActivePage, QWidget* parent)
    : TBandPage(model, resources, std::move(refreshActivePage),
                {.Graph = TGraph::Fft,
                 .Background = &TColourSettings::FftBgdCol,
                 .DetailsName = QStringLiteral("FFTDetailsPanel"),
                 .LabelPatterns = {QStringLiteral("FCh%1L"), QStringLiteral("FCh%1Fr"),
                                   QStringLiteral("FCh%1Db"), QStringLiteral("FCh%1xy")},
                 .BevelPattern = QStringLiteral("FBevel%1"),
                 .WidestText = WidestFftDetailsText(model.Separators()),
                 .PanelName = QStringLiteral("FFTPanel"),
                 .ListName = QStringLiteral("FFTList"),
                 .ReadoutLine = 3},
                parent) {
    BuildControls();
    ShowSettings();
}

void TFftPage::BuildControls() {
    QFrame* toolBar = ToolBar();
    overlay_ = MakeCheck(QStringLiteral("FFTOverlay"), tr("Overlay"), false, toolBar);
    autoCalc_ = MakeCheck(QStringLiteral("AutoCalc"), tr("Automatically Update"), true, toolBar);
    auto* windowCaption = new QLabel(tr("Window"), toolBar);
    windowCaption->setObjectName(QStringLiteral("Label58"));
    QStringList windows;
    for (std::string_view name : FftWindowNames) {
        windows << QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    }
    windowCombo_ = MakeDropDown(QStringLiteral("FFTWindowCombo"), windows, toolBar);
    auto* pointsCaption = new QLabel(tr("No. Points"), toolBar);
    pointsCaption->setObjectName(QStringLiteral("Label56"));
    QStringList points;
    for (const char* choice : PointChoices) {
        points << QString::fromLatin1(choice);
    }
    numPoints_ = MakeDropDown(QStringLiteral("NumPoints"), points, toolBar);
    AddTools({overlay_, autoCalc_, windowCaption, windowCombo_, pointsCaption, numPoints_});
    AddDisplayChecks(QStringLiteral("FDisp"));

    connect(autoCalc_, &QCheckBox::toggled, this, [this] { AutoCalcClick(); });
    connect(windowCombo_, &QComboBox::currentIndexChanged, this,
            [this] { FFTWindowComboChange(); });
    connect(numPoints_, &QComboBox::currentIndexChanged, this, [this] { NumPointsChange(); });
}

void TFftPage::BlockArrived(bool full) {
    if (model_.Settings().AutoCalc != 0) {
        TBandPage::BlockArrived(full);  // every spectrum is drawn whole
    }
}

void TFftPage::ShowSettings() {
    const TSettings& settings = model_.Settings();
    const QSignalBlocker pointsBlocker(numPoints_);
    const QSignalBlocker windowBlocker(windowCombo_);
    const QSignalBlocker autoCalcBlocker(autoCalc_);
    const int points = numPoints_->findText(QString::number(settings.Points));
    numPoints_->setCurrentIndex(points >= 0 ? points : 0);
    windowCombo_->setCurrentIndex(static_cast<int>(model_.FftWindow()));
    autoCalc_->setChecked(settings.AutoCalc != 0);
}

void TFftPage::ShowDetails(bool layout) {
    (void)layout;
    const int count = model_.ChannelCount();
    const auto displayed = model_.Displayed(TGraph::Fft);
    // The displayed channels share the height; those with a spectrum show
    // their figures, in the first slots.
    std::array<bool, MaxChannels> shown{};
    int slotCount = 0;
    for (int c = 0; c < MaxChannels; ++c) {
        const size_t channel = static_cast<size_t>(c);
        slotCount += displayed[channel] && c < count ? 1 : 0;
        shown[channel] = displayed[channel] && model_.Spectra().Result(c) != nullptr;
    }
    DetailsPanel()->LayOutSlots(shown, slotCount);
    FillDetails();
}

std::vector<std::string> TFftPage::DetailsTexts(int channel) const {
    const TSpectrum* spectrum = model_.Spectra().Result(channel);
    if (spectrum == nullptr) {
        return {};
    }
    const TFftDetailsTexts texts = FftDetailsTexts(channel, spectrum->Points(),
                                                   model_.Format().SampleRate, model_.Separators());
    return {texts.Points, texts.Frequency, texts.Level};
}

void TFftPage::DrawTraces(bool full) {
    (void)full;
    for (const int c : DisplayedChannels()) {
        if (const TSpectrum* spectrum = model_.Spectra().Result(c)) {
            DrawFftTrace(Bands()->Image(c), resources_, *spectrum, overlay_->isChecked());
        }
    }
}

std::optional<std::string> TFftPage::ReadoutAt(int channel, int item, QPoint point) const {
    if (model_.Spectra().Result(channel) == nullptr) {
        return std::nullopt;
    }
    return FftReadout(point.x(), point.y(), item, Bands()->ItemWidth(), Bands()->ItemHeight(),
                      model_.Format().SampleRate, model_.Separators());
}

void TFftPage::NumPointsChange() {
    model_.SetFftPoints(numPoints_->currentText().toInt());
}

void TFftPage::AutoCalcClick() {
    model_.SetAutoCalc(autoCalc_->isChecked());
}

void TFftPage::FFTWindowComboChange() {
    model_.SetFftWindow(FftWindowFromIndex(windowCombo_->currentIndex()));
}
