#include "main/fft_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "fft/fft_windows.h"
#include "main/band_list.h"
#include "main/details_panel.h"
#include "main/display_checks.h"
#include "main/fft_trace.h"
#include "main/graph_resources.h"
#include "main/widgets.h"
#include "monitor/fft_details.h"
#include "monitor/monitor_model.h"
#include "monitor/temperature_details.h"

namespace {

constexpr int ToolBarHeight = 41;
constexpr int ReadoutLine = 3;  // the fourth label of a channel
constexpr const char* PointChoices[] = {"1024", "2048", "4096", "8192"};

QComboBox* MakeDropDown(const QString& name, const QStringList& items, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(false);
    combo->addItems(items);
    return combo;
}

}  // namespace

TFftPage::TFftPage(TMonitorModel& model, const TGraphResources& resources,
                   std::function<void()> refreshActivePage, QWidget* parent)
    : QWidget(parent),
      model_(model),
      resources_(resources),
      refreshActivePage_(std::move(refreshActivePage)) {
    BuildControls();
    ApplyListColour();
    detailsPanel_->HideAll();
    ShowSettings();
}

void TFftPage::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* toolBar = new QFrame(this);
    toolBar->setFixedHeight(ToolBarHeight);
    auto* tools = new QHBoxLayout(toolBar);
    tools->setContentsMargins(2, 0, 2, 0);
    tools->setSpacing(2);
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
    for (QWidget* widget : std::initializer_list<QWidget*>{
             overlay_, autoCalc_, windowCaption, windowCombo_, pointsCaption, numPoints_}) {
        tools->addWidget(widget);
    }
    displayChecks_ = new TDisplayChecks(QStringLiteral("FDisp"), toolBar);
    for (QCheckBox* box : displayChecks_->Boxes()) {
        tools->addWidget(box);
    }
    tools->addStretch();
    layout->addWidget(toolBar);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    detailsPanel_ =
        new TDetailsPanel(QStringLiteral("FFTDetailsPanel"),
                          {QStringLiteral("FCh%1L"), QStringLiteral("FCh%1Fr"),
                           QStringLiteral("FCh%1Db"), QStringLiteral("FCh%1xy")},
                          QStringLiteral("FBevel%1"),
                          QString::fromStdString(WidestFftDetailsText(model_.Separators())), this);
    body->addWidget(detailsPanel_);
    auto* listPanel = new QWidget(this);
    listPanel->setObjectName(QStringLiteral("FFTPanel"));
    auto* bands = new QVBoxLayout(listPanel);
    bands->setContentsMargins(0, 0, 0, 0);
    fftList_ = new TBandList(DesignItemHeight, listPanel);
    fftList_->setObjectName(QStringLiteral("FFTList"));
    fftList_->setMouseTracking(true);
    bands->addWidget(fftList_);
    body->addWidget(listPanel, 1);
    layout->addLayout(body, 1);

    connect(autoCalc_, &QCheckBox::toggled, this, [this] { AutoCalcClick(); });
    connect(windowCombo_, &QComboBox::currentIndexChanged, this,
            [this] { FFTWindowComboChange(); });
    connect(numPoints_, &QComboBox::currentIndexChanged, this, [this] { NumPointsChange(); });
    connect(displayChecks_, &TDisplayChecks::Toggled, this,
            [this](int channel, bool checked) { FDispClick(channel, checked); });
    connect(fftList_, &TBandList::Resized, this, [this] { FFTPanelResize(); });
    connect(fftList_, &TBandList::MouseMoved, this,
            [this](QPoint point) { FFTListMouseMove(point); });
    connect(detailsPanel_, &TDetailsPanel::Resized, this, [this] { FFTDetailsPanelResize(); });
}

void TFftPage::ResetDisplays() {
    detailsPanel_->HideAll();
}

void TFftPage::FormatChanged() {
    EnableDisplayChecks();
    RebuildFftList();
}

void TFftPage::BlockArrived(bool full) {
    (void)full;  // every spectrum is drawn whole
    if (model_.Settings().AutoCalc != 0) {
        ShowFftDetails();
        DrawFftTraces();
    }
}

void TFftPage::ColoursChanged() {
    ApplyListColour();
    DrawFftTraces();
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

void TFftPage::ApplyListColour() {
    fftList_->SetColour(ColourFromSetting(model_.Settings().FftBgdCol));
}

void TFftPage::EnableDisplayChecks() {
    displayChecks_->EnableDisplayChecks(model_.Format().ChannelCount,
                                        model_.Displayed(TGraph::Fft));
}

void TFftPage::RebuildFftList() {
    fftList_->Clear();
    for (int c = 0; c < model_.ChannelCount(); ++c) {
        if (model_.Displayed(TGraph::Fft, c)) {
            fftList_->AddItem(c);
        }
    }
    ResizeFftBitmaps();
}

void TFftPage::ResizeFftBitmaps() {
    fftList_->ResizeImages(model_.ChannelCount());
}

void TFftPage::ShowFftDetails() {
    const int count = model_.ChannelCount();
    const auto displayed = model_.Displayed(TGraph::Fft);
    const TSpectra& spectra = model_.Spectra();
    // The displayed channels share the height; those with a spectrum show
    // their figures, in the first slots.
    std::array<bool, MaxChannels> shown{};
    int slotCount = 0;
    for (int c = 0; c < MaxChannels; ++c) {
        const size_t channel = static_cast<size_t>(c);
        slotCount += displayed[channel] && c < count ? 1 : 0;
        shown[channel] = displayed[channel] && spectra.Result(c) != nullptr;
    }
    detailsPanel_->LayOutSlots(shown, slotCount);
    for (int c = 0; c < count; ++c) {
        const TSpectrum* spectrum = spectra.Result(c);
        if (!displayed[static_cast<size_t>(c)] || spectrum == nullptr) {
            continue;
        }
        const TFftDetailsTexts texts =
            FftDetailsTexts(c, spectrum->Points(), model_.Format().SampleRate, model_.Separators());
        detailsPanel_->SetTexts(c, {texts.Points, texts.Frequency, texts.Level,
                                    readouts_[static_cast<size_t>(c)].toStdString()});
    }
}

void TFftPage::DrawFftTraces() {
    const int count = model_.ChannelCount();
    for (int c = 0; c < count; ++c) {
        const TSpectrum* spectrum = model_.Spectra().Result(c);
        if (model_.Displayed(TGraph::Fft, c) && spectrum != nullptr) {
            DrawFftTrace(fftList_->Image(c), resources_, *spectrum, overlay_->isChecked());
        }
    }
}

void TFftPage::RefreshPage() {
    fftList_->update();
}

void TFftPage::FFTListMouseMove(QPoint point) {
    const int item = fftList_->ItemAt(point);
    if (item < 0) {
        return;
    }
    const int c = NthDisplayedChannel(model_.Displayed(TGraph::Fft), item);
    if (c < 0 || model_.Spectra().Result(c) == nullptr) {
        return;
    }
    const size_t channel = static_cast<size_t>(c);
    readouts_[channel] = QString::fromStdString(
        FftReadout(point.x(), point.y(), item, fftList_->ItemWidth(), fftList_->ItemHeight(),
                   model_.Format().SampleRate, model_.Separators()));
    detailsPanel_->Label(c, ReadoutLine)->setText(readouts_[channel]);
}

void TFftPage::FFTDetailsPanelResize() {
    ShowFftDetails();
}

void TFftPage::FFTPanelResize() {
    ResizeFftBitmaps();
    DrawFftTraces();
}

void TFftPage::NumPointsChange() {
    model_.SetFftPoints(numPoints_->currentText().toInt());
}

void TFftPage::FDispClick(int channel, bool checked) {
    model_.SetDisplayed(TGraph::Fft, channel, checked);
    RebuildFftList();
    ShowFftDetails();
    DrawFftTraces();
    refreshActivePage_();
}

void TFftPage::AutoCalcClick() {
    model_.SetAutoCalc(autoCalc_->isChecked());
}

void TFftPage::FFTWindowComboChange() {
    model_.SetFftWindow(FftWindowFromIndex(windowCombo_->currentIndex()));
}
