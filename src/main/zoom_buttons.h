// The four zoom buttons of a graph page ("+", in, out, "-") and the zoom they
// step: a power of two from 1 to 2^23, which scales the page's vertical axis.
#pragma once

#include <QObject>
#include <QString>
#include <array>

class QToolButton;
class QWidget;

class TZoomButtons : public QObject {
    Q_OBJECT
  public:
    // The buttons are named MaxZoom<infix>Button, ZoomIn<infix>Button,
    // ZoomOut<infix>Button and MinZoom<infix>Button, children of `parent`.
    TZoomButtons(const QString& infix, QWidget* parent);

    // In layout order: maximum, in, out, minimum.
    const std::array<QToolButton*, 4>& Buttons() const { return buttons_; }
    double Zoom() const { return zoom_; }

    // enabled: the buttons that can act are enabled; otherwise all four disabled.
    void Update(bool enabled);
    // The keys U and D: a click on the matching button, which does nothing
    // while that button is disabled.
    void Key(bool in, bool extreme);

    // The button handlers.
    void MaxZoomClick();
    void ZoomInClick();
    void ZoomOutClick();
    void MinZoomClick();

  signals:
    // The zoom has been stepped; the page lays out, redraws and updates.
    void Zoomed();

  private:
    void SetZoom(double zoom);

    double zoom_;
    std::array<QToolButton*, 4> buttons_{};
};
