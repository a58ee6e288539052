// A group box of label pairs: a fixed caption on the left and a value label
// (blue text) on the right, one pair per line, as the Header and GPS pages
// show their values.
#pragma once

#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QString>
#include <initializer_list>
#include <vector>

class QGridLayout;

class TValueGroup : public QGroupBox {
    Q_OBJECT
  public:
    TValueGroup(const QString& caption, QWidget* parent = nullptr);

    // Adds a line; the value label is named `valueName` and starts empty.
    QLabel* AddRow(const QString& caption, const QString& valueName);
    const std::vector<QLabel*>& Values() const { return values_; }

  private:
    QGridLayout* grid_;
    std::vector<QLabel*> values_;
};

// One line of a value group: its caption and the name of its value label.
struct TValueRow {
    const char* Caption;
    const char* Value;
};

// A value group with these lines; each value label is also entered in `values`
// under its name.
TValueGroup* MakeValueGroup(const QString& caption, std::initializer_list<TValueRow> rows,
                            QHash<QString, QLabel*>& values, QWidget* parent);

// Gives `page` a frameless scroll area filling it and returns the widget to lay
// the page out in, so that a large font never pushes the window beyond its size.
QWidget* ScrollingContent(QWidget* page);
