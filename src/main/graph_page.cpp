#include "main/graph_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "colours/colour_value.h"
#include "main/band_list.h"
#include "main/details_panel.h"
#include "main/display_checks.h"
#include "main/spin_edit.h"
#include "main/widgets.h"
#include "main/zoom_buttons.h"
#include "monitor/temperature_details.h"
#include "monitor/zoom_steps.h"

QComboBox* MakeDropDown(const QString& name, const QStringList& items, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(false);
    combo->addItems(items);
    return combo;
}

// --- TGraphPage ---

TGraphPage::TGraphPage(TMonitorModel& model, std::function<void()> refreshActivePage,
                       int toolSpacing, QWidget* parent)
    : QWidget(parent), model_(model), refreshActivePage_(std::move(refreshActivePage)) {
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(0);
    toolBar_ = new QFrame(this);
    toolBar_->setFixedHeight(ToolBarHeight);
    tools_ = new QHBoxLayout(toolBar_);
    tools_->setContentsMargins(2, 0, 2, 0);
    tools_->setSpacing(toolSpacing);
    column_->addWidget(toolBar_);
}

void TGraphPage::AddTools(std::initializer_list<QWidget*> widgets) {
    for (QWidget* widget : widgets) {
        tools_->addWidget(widget);
    }
}

void TGraphPage::AddToolStretch() {
    tools_->addStretch();
}

TZoomButtons* TGraphPage::AddZoomButtons(const QString& infix) {
    zoom_ = new TZoomButtons(infix, toolBar_);
    for (QToolButton* button : zoom_->Buttons()) {
        tools_->addWidget(button);
    }
    return zoom_;
}

TSpinEdit* TGraphPage::AddSpanField(const QString& captionName, const QString& caption,
                                    const QString& name, int maximum) {
    auto* label = new QLabel(caption, toolBar_);
    label->setObjectName(captionName);
    auto* field = new TSpinEdit(toolBar_);
    field->setObjectName(name);
    field->setRange(1, maximum);
    AddTools({label, field});
    SetSpanField(field);
    new TNumericKeyFilter(
        field, [field] { return field->text(); }, false, model_.Separators());
    return field;
}

TDisplayChecks* TGraphPage::AddDisplayChecks(const QString& prefix) {
    displayChecks_ = new TDisplayChecks(prefix, toolBar_);
    for (QCheckBox* box : displayChecks_->Boxes()) {
        tools_->addWidget(box);
    }
    tools_->addStretch();
    connect(displayChecks_, &TDisplayChecks::Toggled, this,
            [this](int channel, bool checked) { DisplayToggled(channel, checked); });
    return displayChecks_;
}

void TGraphPage::RefreshActivePage() const {
    if (refreshActivePage_) {
        refreshActivePage_();
    }
}

void TGraphPage::ZoomKey(bool in, bool extreme) {
    if (zoom_ != nullptr) {
        zoom_->Key(in, extreme);
    }
}

void TGraphPage::SpanKey(bool longer) {
    if (spanField_ != nullptr) {
        spanField_->StepSpan(longer);
    }
}

double TGraphPage::Zoom() const {
    return zoom_ != nullptr ? zoom_->Zoom() : MinZoom;
}

void TGraphPage::UpdateZoomButtons(bool enabled) {
    if (zoom_ != nullptr) {
        zoom_->Update(enabled);
    }
}

// --- TBandPage ---

TBandPage::TBandPage(TMonitorModel& model, const TGraphResources& resources,
                     std::function<void()> refreshActivePage, TBandPageDesign design,
                     QWidget* parent)
    : TGraphPage(model, std::move(refreshActivePage), 2, parent),
      resources_(resources),
      design_(std::move(design)) {
    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    detailsPanel_ =
        new TDetailsPanel(design_.DetailsName, design_.LabelPatterns, design_.BevelPattern,
                          QString::fromStdString(design_.WidestText), this);
    body->addWidget(detailsPanel_);
    auto* panel = new QWidget(this);
    panel->setObjectName(design_.PanelName);
    auto* list = new QVBoxLayout(panel);
    list->setContentsMargins(0, 0, 0, 0);
    bands_ = new TBandList(design_.DesignItemHeight, panel);
    bands_->setObjectName(design_.ListName);
    list->addWidget(bands_);
    body->addWidget(panel, 1);
    Column()->addLayout(body, 1);

    connect(bands_, &TBandList::Resized, this, [this] {
        ResizeBands();
        DrawTraces(true);
        RefreshActivePage();
    });
    connect(detailsPanel_, &TDetailsPanel::Resized, this, [this] { ShowDetails(true); });
    if (design_.ReadoutLine) {
        bands_->setMouseTracking(true);
        connect(bands_, &TBandList::MouseMoved, this,
                [this](QPoint point) { BandsMouseMove(point); });
    }
    ApplyListColour();
    detailsPanel_->HideAll();
}

void TBandPage::AddBandZoomButtons(const QString& infix) {
    connect(AddZoomButtons(infix), &TZoomButtons::Zoomed, this, [this] {
        ShowDetails(true);
        DrawTraces(true);
        RefreshActivePage();
        UpdateZoomButtons(true);
    });
    UpdateZoomButtons(false);
}

void TBandPage::AddClearButton(const QString& name, const QString& tip,
                               std::function<void()> clear) {
    QToolButton* button = MakeSpeedButton(name, tip, ToolBar(), QStyle::SP_TrashIcon);
    AddTools({button});
    connect(button, &QToolButton::clicked, this, [this, clear = std::move(clear)] {
        clear();
        ResizeBands();
        DrawTraces(true);
        RefreshActivePage();
    });
}

void TBandPage::ResetDisplays() {
    detailsPanel_->HideAll();
}

void TBandPage::FormatChanged() {
    EnableDisplayChecks();
    RebuildBands();
}

void TBandPage::BlockArrived(bool full) {
    ShowDetails(full);
    DrawTraces(full);
    UpdateZoomButtons(true);
}

void TBandPage::ColoursChanged() {
    ApplyListColour();
    DrawTraces(true);
}

void TBandPage::RefreshPage() {
    bands_->update();
}

void TBandPage::ApplyListColour() {
    bands_->SetColour(ColourFromSetting(model_.Settings().*design_.Background));
}

void TBandPage::EnableDisplayChecks() {
    DisplayChecks()->EnableDisplayChecks(model_.Format().ChannelCount,
                                         model_.Displayed(design_.Graph));
}

std::vector<int> TBandPage::DisplayedChannels() const {
    std::vector<int> channels;
    for (int c = 0; c < model_.ChannelCount(); ++c) {
        if (model_.Displayed(design_.Graph, c)) {
            channels.push_back(c);
        }
    }
    return channels;
}

void TBandPage::ShowDetails(bool layout) {
    if (layout) {
        detailsPanel_->LayOut(model_.Displayed(design_.Graph), model_.ChannelCount());
    }
    FillDetails();
}

void TBandPage::FillDetails() {
    for (const int c : DisplayedChannels()) {
        std::vector<std::string> texts = DetailsTexts(c);
        if (texts.empty()) {
            continue;
        }
        if (design_.ReadoutLine) {
            const auto line = std::min(static_cast<size_t>(*design_.ReadoutLine), texts.size());
            texts.insert(texts.begin() + static_cast<std::ptrdiff_t>(line),
                         Readout(c).toStdString());
        }
        detailsPanel_->SetTexts(c, texts);
    }
}

void TBandPage::RebuildBands() {
    bands_->Clear();
    for (const int c : DisplayedChannels()) {
        bands_->AddItem(c);
    }
    ResizeBands();
}

void TBandPage::ResizeBands() {
    bands_->ResizeImages(model_.ChannelCount());
}

void TBandPage::DisplayToggled(int channel, bool checked) {
    model_.SetDisplayed(design_.Graph, channel, checked);
    RebuildBands();
    ShowDetails(true);
    DrawTraces(true);
    RefreshActivePage();
}

void TBandPage::BandsMouseMove(QPoint point) {
    const int item = bands_->ItemAt(point);
    if (item < 0) {
        return;
    }
    const int c = NthDisplayedChannel(model_.Displayed(design_.Graph), item);
    if (c < 0) {
        return;
    }
    const std::optional<std::string> text = ReadoutAt(c, item, point);
    if (!text) {
        return;
    }
    QString& readout = readouts_[static_cast<size_t>(c)];
    readout = QString::fromStdString(*text);
    detailsPanel_->Label(c, *design_.ReadoutLine)->setText(readout);
}
