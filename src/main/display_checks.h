// A graph page's six channel boxes ("1" ... "6"), which choose the channels it
// shows. The boxes mirror the model's display flags of the page.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <span>

#include "digitizer/data_block.h"

class QCheckBox;
class QWidget;

class TDisplayChecks : public QObject {
    Q_OBJECT
  public:
    // Boxes <prefix>1 ... <prefix>6, checked, children of `parent`.
    TDisplayChecks(const QString& prefix, QWidget* parent);

    const std::array<QCheckBox*, MaxChannels>& Boxes() const { return boxes_; }

    // After a format change: with 1 to 6 channels the boxes of the channels
    // present are enabled and show `displayed`; the others are unchecked and
    // disabled. Any other channel count changes nothing. No Toggled signals.
    void EnableDisplayChecks(int channelCount, std::span<const bool, MaxChannels> displayed);

  signals:
    // The user (or a key) checked or unchecked the box of `channel` (0-based).
    void Toggled(int channel, bool checked);

  private:
    std::array<QCheckBox*, MaxChannels> boxes_{};
};
