// A group box of label pairs: a fixed caption on the left and a value label
// (blue text) on the right, one pair per line, as the Header and GPS pages
// show their values.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QString>
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
