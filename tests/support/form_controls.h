// The main window's controls by name, for the fixtures that hold a window: a
// missing control fails the test instead of crashing it.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QWidget>

template <typename T>
T* FindControl(const QWidget& form, const QString& name) {
    T* widget = form.findChild<T*>(name);
    if (widget == nullptr) {
        ADD_FAILURE() << "no control " << name.toStdString();
    }
    return widget;
}

// The text of a label ("<no label>" when there is none).
QString LabelText(const QWidget& form, const QString& label);
// Whether the widget is there and not hidden.
bool ControlShown(const QWidget& form, const QString& widget);
void ClickButton(const QWidget& form, const QString& button);
// Clicks the item of a radio group with that caption.
void SelectItem(const QWidget& form, const QString& group, const QString& caption);
