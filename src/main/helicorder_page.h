// The Helicorder page: one channel over the newest 24, 12, 6 or 1 hours as rows of 15, 30 or
// 60 minutes (THelicorderPicture), raw or through the trigger's band-pass, on an automatic
// scale that makes the noise of the hours shown an eighth of a row, zoomed on top of it (the
// buttons, and U and D as on the other graph pages; X and Z lengthen and shorten the hours
// shown), the events found shaded on their rows (the one opened from the Events page framed),
// and Save Picture: the whole day as a PNG, title and axes included. The picture is drawn whole
// when its layout changes and only its newest rows after a block; only while the page is visible.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include "main/band_list.h"
#include "main/graph_page.h"
#include "main/helicorder_picture.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class TGraphResources;
class TPrompts;

// The widget the picture is shown in.
class THelicorderView : public TGraphView {
    Q_OBJECT
  public:
    explicit THelicorderView(QWidget* parent = nullptr);
    const QImage& Image() const { return image_; }
    QImage& Image() { return image_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    // A new black image of the new size, then Resized.
    void resizeEvent(QResizeEvent* event) override;

  private:
    QImage image_;
};

class THelicorderPage : public TGraphPage {
    Q_OBJECT
  public:
    // The picture that Save Picture writes: the whole day, PictureWidth wide and
    // PictureRowHeight for each row, with the title and the minutes' axis.
    static constexpr int PictureWidth = 1600;
    static constexpr int PictureRowHeight = 16;

    THelicorderPage(TMonitorModel& model, const TGraphResources& resources, TPrompts& prompts,
                    QWidget* parent = nullptr);

    // TMonitorPage.
    void FormatChanged() override;
    void BlockArrived(bool full) override;
    void ColoursChanged() override;
    void RefreshPage() override;
    // X and Z: the hours shown one choice longer or shorter.
    void SpanKey(bool longer) override;

    // An event of the list shown: its channel chosen when the one shown did not trigger, its
    // rows shown (24 hours when it is older than the hours shown).
    void ShowEvent(const TEvent& event);
    // The whole day drawn as Save Picture writes it.
    QImage DayPicture() const;
    // Save Picture: a PNG of the whole day where the user chooses; false when none was
    // written (Cancel, a folder that does not exist, a failed write, said to the user).
    bool SavePicture();

    THelicorderView* View() const { return view_; }
    // The picture's layout as last drawn.
    const THelicorderDraw& LastDraw() const { return draw_; }
    int PlotLeft() const { return picture_.PlotLeft(); }
    const THelicorderPicture& Picture() const { return picture_; }
    // The counts from a row's centre line to its edge as last drawn: the automatic scale
    // over the zoom.
    double HalfRowCounts() const { return draw_.HalfRowCounts; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void BuildControls();
    THelicorderDraw MakeDraw(int hours) const;
    QString Title(const THelicorderDraw& draw) const;
    void TakeControls();
    void ShowSettings();
    void Redraw(bool whole);
    void FillChannels();

    const TGraphResources& resources_;
    TPrompts& prompts_;
    THelicorderPicture picture_;
    THelicorderDraw draw_;
    bool drawn_ = false;      // the picture shows draw_'s layout
    int64_t drawnSlot_ = -1;  // the newest slot when last drawn
    bool pending_ = false;    // blocks arrived since
    uint64_t highlight_ = 0;  // the event last opened from the Events page

    QComboBox* channel_ = nullptr;
    QComboBox* hours_ = nullptr;
    QComboBox* rowMinutes_ = nullptr;
    QCheckBox* bandpass_ = nullptr;
    QLabel* gainLabel_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    THelicorderView* view_ = nullptr;
};
