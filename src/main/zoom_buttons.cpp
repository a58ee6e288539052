#include "main/zoom_buttons.h"

#include <QToolButton>

#include "main/widgets.h"
#include "monitor/zoom_steps.h"

namespace {

enum { MaxButton, InButton, OutButton, MinButton };

}  // namespace

TZoomButtons::TZoomButtons(const QString& infix, QWidget* parent)
    : QObject(parent), zoom_(MinZoom) {
    const QString suffix = infix + QStringLiteral("Button");
    buttons_[MaxButton] =
        MakeSpeedButton(QStringLiteral("MaxZoom") + suffix, QStringLiteral("+"), parent);
    buttons_[MaxButton]->setToolTip(tr("Maximum zoom"));
    buttons_[InButton] = MakeSpeedButton(QStringLiteral("ZoomIn") + suffix, tr("Zoom in"), parent,
                                         QStyle::SP_ArrowUp);
    buttons_[OutButton] = MakeSpeedButton(QStringLiteral("ZoomOut") + suffix, tr("Zoom out"),
                                          parent, QStyle::SP_ArrowDown);
    buttons_[MinButton] =
        MakeSpeedButton(QStringLiteral("MinZoom") + suffix, QStringLiteral("-"), parent);
    buttons_[MinButton]->setToolTip(tr("No zoom"));
    connect(buttons_[MaxButton], &QToolButton::clicked, this, [this] { MaxZoomClick(); });
    connect(buttons_[InButton], &QToolButton::clicked, this, [this] { ZoomInClick(); });
    connect(buttons_[OutButton], &QToolButton::clicked, this, [this] { ZoomOutClick(); });
    connect(buttons_[MinButton], &QToolButton::clicked, this, [this] { MinZoomClick(); });
}

void TZoomButtons::Update(bool enabled) {
    const TZoomButtonStates states = ZoomButtonStates(zoom_, enabled);
    buttons_[InButton]->setEnabled(states.In);
    buttons_[MaxButton]->setEnabled(states.In);
    buttons_[OutButton]->setEnabled(states.Out);
    buttons_[MinButton]->setEnabled(states.Out);
}

void TZoomButtons::Key(bool in, bool extreme) {
    const int index = in ? (extreme ? MaxButton : InButton) : (extreme ? MinButton : OutButton);
    buttons_[static_cast<size_t>(index)]->click();
}

void TZoomButtons::MaxZoomClick() {
    SetZoom(MaxZoom);
}

void TZoomButtons::ZoomInClick() {
    SetZoom(ZoomedIn(zoom_));
}

void TZoomButtons::ZoomOutClick() {
    SetZoom(ZoomedOut(zoom_));
}

void TZoomButtons::MinZoomClick() {
    SetZoom(MinZoom);
}

void TZoomButtons::SetZoom(double zoom) {
    zoom_ = zoom;
    emit Zoomed();
}
