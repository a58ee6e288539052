#include "main/display_checks.h"

#include <QCheckBox>
#include <QSignalBlocker>

#include "main/widgets.h"

TDisplayChecks::TDisplayChecks(const QString& prefix, QWidget* parent) : QObject(parent) {
    for (int c = 0; c < MaxChannels; ++c) {
        QCheckBox* box =
            MakeCheck(prefix + QString::number(c + 1), QString::number(c + 1), true, parent);
        boxes_[static_cast<size_t>(c)] = box;
        // Toggled, not clicked: a box unchecked in code must act as well.
        connect(box, &QCheckBox::toggled, this, [this, c](bool on) { emit Toggled(c, on); });
    }
}

void TDisplayChecks::EnableDisplayChecks(int channelCount,
                                         std::span<const bool, MaxChannels> displayed) {
    if (channelCount < 1 || channelCount > MaxChannels) {
        return;
    }
    for (int c = 0; c < MaxChannels; ++c) {
        QCheckBox* box = boxes_[static_cast<size_t>(c)];
        const QSignalBlocker blocker(box);
        box->setChecked(c < channelCount && displayed[static_cast<size_t>(c)]);
        box->setEnabled(c < channelCount);
    }
}
