#include "main/widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionFrame>
#include <QToolButton>
#include <algorithm>
#include <optional>

#include "settings/numeric_entry.h"

namespace {

constexpr int SpeedButtonSize = 25;

// The first character of a key's text when it is one that is typed; nothing
// for control keys and keys with Ctrl, Alt or Meta.
std::optional<char32_t> TypedCharacter(const QKeyEvent& event) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return std::nullopt;
    }
    const QList<uint> text = event.text().toUcs4();
    if (text.isEmpty() || !QChar::isPrint(text.front())) {
        return std::nullopt;
    }
    return static_cast<char32_t>(text.front());
}

}  // namespace

QCheckBox* MakeCheck(const QString& name, const QString& caption, bool checked, QWidget* parent) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(name);
    check->setChecked(checked);
    return check;
}

QPushButton* MakeButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QToolButton* MakeSpeedButton(const QString& name, const QString& text, QWidget* parent,
                             QStyle::StandardPixmap glyph) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setToolTip(text);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRaise(true);
    button->setFixedSize(SpeedButtonSize, SpeedButtonSize);
    if (glyph != QStyle::SP_CustomBase) {
        const QIcon icon = button->style()->standardIcon(glyph);
        if (!icon.isNull()) {
            button->setIcon(icon);
            button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        }
    }
    return button;
}

void FitEditWidth(QLineEdit* edit, const QString& sample, int minimum) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth =
        edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
    const QMargins margins = edit->textMargins();
    const QSize text(
        edit->fontMetrics().horizontalAdvance(sample) + margins.left() + margins.right() + 4,
        edit->fontMetrics().height());
    const int width =
        edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, edit).width();
    edit->setFixedWidth(std::max(minimum, width));
}

QFrame* MakeBevel(const QString& name, QWidget* parent) {
    auto* bevel = new QFrame(parent);
    bevel->setObjectName(name);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    return bevel;
}

TNumericKeyFilter::TNumericKeyFilter(QWidget* field, std::function<QString()> currentText,
                                     bool allowPoint, const TNumberSeparators& separators)
    : QObject(field),
      currentText_(std::move(currentText)),
      allowPoint_(allowPoint),
      separators_(separators) {
    field->installEventFilter(this);
}

bool TNumericKeyFilter::Passes(const QString& typed) const {
    const std::u32string key = typed.toStdU32String();
    const std::u32string point = QString::fromStdString(separators_.Decimal).toStdU32String();
    if (key.empty() || FilterNumericKey(key.front(), currentText_().toStdU32String(), false,
                                        allowPoint_, point.empty() ? U'.' : point.front())) {
        return true;
    }
    QApplication::beep();
    return false;
}

bool TNumericKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const std::optional<char32_t> typed = TypedCharacter(*static_cast<QKeyEvent*>(event));
        if (typed && !Passes(QString::fromUcs4(&*typed, 1))) {
            return true;  // swallowed
        }
    }
    return QObject::eventFilter(watched, event);
}
