#include "main/details_panel.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <algorithm>

#include "main/widgets.h"
#include "monitor/channel_details.h"

namespace {

constexpr int FontPixels = 11;
constexpr int RightMargin = 4;

}  // namespace

TDetailsPanel::TDetailsPanel(const QString& name, const QStringList& labelPatterns,
                             const QString& bevelPattern, const QString& widestText,
                             QWidget* parent)
    : QWidget(parent), widestText_(widestText) {
    setObjectName(name);
    QFont small = font();
    small.setPixelSize(FontPixels);
    setFont(small);
    for (int c = 0; c < MaxChannels; ++c) {
        const size_t channel = static_cast<size_t>(c);
        bevels_[channel] = MakeBevel(bevelPattern.arg(c + 1), this);
        for (const QString& pattern : labelPatterns) {
            auto* label = new QLabel(this);
            label->setObjectName(pattern.arg(c + 1));
            labels_[channel].push_back(label);
        }
    }
    FitWidth();
}

void TDetailsPanel::FitWidth() {
    const int needed =
        DetailsLabelLeft + fontMetrics().horizontalAdvance(widestText_) + RightMargin;
    setFixedWidth(std::max(DesignWidth, needed));
}

void TDetailsPanel::HideAll() {
    for (int c = 0; c < MaxChannels; ++c) {
        bevels_[static_cast<size_t>(c)]->hide();
        for (QLabel* label : labels_[static_cast<size_t>(c)]) {
            label->hide();
        }
    }
}

void TDetailsPanel::LayOut(std::span<const bool, MaxChannels> displayed, int channelCount) {
    Place(LayOutChannelDetails(height(), displayed, channelCount));
}

void TDetailsPanel::LayOutSlots(std::span<const bool, MaxChannels> shown, int slotCount) {
    Place(LayOutDetailsSlots(height(), shown, slotCount));
}

void TDetailsPanel::Place(const std::array<TDetailsPlacement, MaxChannels>& placements) {
    const int panelWidth = width();
    for (int c = 0; c < MaxChannels; ++c) {
        const size_t channel = static_cast<size_t>(c);
        const TDetailsPlacement& placement = placements[channel];
        QFrame* bevel = bevels_[channel];
        if (placement.Shown) {
            bevel->setGeometry(0, placement.BevelTop, panelWidth, 2);
        }
        bevel->setVisible(placement.Shown);
        const std::vector<QLabel*>& labels = labels_[channel];
        for (size_t i = 0; i < labels.size() && i < placement.LabelTops.size(); ++i) {
            QLabel* label = labels[i];
            if (placement.Shown) {
                label->setGeometry(DetailsLabelLeft, placement.LabelTops[i],
                                   panelWidth - DetailsLabelLeft, DetailsLabelStep);
                label->clear();
            }
            label->setVisible(placement.Shown);
        }
    }
}

void TDetailsPanel::SetTexts(int channel, const std::vector<std::string>& texts) {
    const std::vector<QLabel*>& labels = labels_.at(static_cast<size_t>(channel));
    for (size_t i = 0; i < labels.size() && i < texts.size(); ++i) {
        labels[i]->setText(QString::fromStdString(texts[i]));
    }
}

QLabel* TDetailsPanel::Label(int channel, int line) const {
    return labels_.at(static_cast<size_t>(channel)).at(static_cast<size_t>(line));
}

QSize TDetailsPanel::minimumSizeHint() const {
    // The first of six slots placed at the top of a panel of no height: its last label's
    // bottom is the height one slot needs.
    std::array<bool, MaxChannels> all{};
    all.fill(true);
    const TDetailsPlacement first = LayOutDetailsSlots(0, all, MaxChannels)[0];
    const size_t lines = std::min(labels_[0].size(), first.LabelTops.size());
    const int slot = lines == 0 ? 0 : first.LabelTops[lines - 1] + DetailsLabelStep;
    return {minimumWidth(), MaxChannels * slot};
}

void TDetailsPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit Resized();
}

void TDetailsPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        FitWidth();
    }
}
