// The column of figures beside a graph page's bands: per channel a separator
// line and a few labels, stacked in equal slots for the channels shown. The
// panel is at least 145 pixels wide, and wide enough for the widest text its
// page can show at the panel's font.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <span>
#include <string>
#include <vector>

#include "digitizer/data_block.h"
#include "monitor/channel_details.h"

class QFrame;
class QLabel;

class TDetailsPanel : public QWidget {
    Q_OBJECT
  public:
    static constexpr int DesignWidth = 145;

    // Labels named after `labelPatterns` ("Ch%1L" gives Ch1L ... Ch6L), in
    // their order from the top; separators after `bevelPattern`. `widestText`
    // is the longest line a label can hold.
    TDetailsPanel(const QString& name, const QStringList& labelPatterns,
                  const QString& bevelPattern, const QString& widestText, QWidget* parent);

    // Every label and separator hidden.
    void HideAll();
    // The displayed channels below `channelCount` share the height in equal
    // slots; their labels are placed, emptied and shown, the others hidden.
    void LayOut(std::span<const bool, MaxChannels> displayed, int channelCount);
    // The channels `shown` take the first of `slotCount` equal slots in channel
    // order; the others are hidden.
    void LayOutSlots(std::span<const bool, MaxChannels> shown, int slotCount);
    // The texts of one channel's labels, from the top.
    void SetTexts(int channel, const std::vector<std::string>& texts);
    QLabel* Label(int channel, int line) const;

    // Its width, and the height at which six channels' slots each hold their separator and
    // labels without running into the next.
    QSize minimumSizeHint() const override;

  signals:
    void Resized();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void FitWidth();
    void Place(const std::array<TDetailsPlacement, MaxChannels>& placements);

    QString widestText_;
    std::array<QFrame*, MaxChannels> bevels_{};
    std::array<std::vector<QLabel*>, MaxChannels> labels_;
};
