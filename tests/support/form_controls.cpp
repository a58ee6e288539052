#include "support/form_controls.h"

#include <QAbstractButton>
#include <QLabel>
#include <QRadioButton>

#include "main/radio_group.h"

QString LabelText(const QWidget& form, const QString& label) {
    const auto* widget = FindControl<QLabel>(form, label);
    return widget ? widget->text() : QStringLiteral("<no label>");
}

bool ControlShown(const QWidget& form, const QString& widget) {
    const auto* found = FindControl<QWidget>(form, widget);
    return found != nullptr && !found->isHidden();
}

void ClickButton(const QWidget& form, const QString& button) {
    if (auto* widget = FindControl<QAbstractButton>(form, button)) {
        widget->click();
    }
}

void SelectItem(const QWidget& form, const QString& group, const QString& caption) {
    auto* radio = FindControl<TRadioGroup>(form, group);
    for (int i = 0; radio && i < radio->Count(); ++i) {
        if (radio->ItemText(i) == caption) {
            radio->Button(i)->click();
            return;
        }
    }
    ADD_FAILURE() << group.toStdString() << " has no item " << caption.toStdString();
}
