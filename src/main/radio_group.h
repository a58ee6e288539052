// A captioned group of radio buttons of which at most one is selected, addressed
// by item index (-1: none). Items fill the columns top to bottom, then left to
// right, as many items per column as the column count requires.
#pragma once

#include <QGroupBox>
#include <QStringList>
#include <vector>

class QButtonGroup;
class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    TRadioGroup(const QString& caption, const QStringList& items, int columns = 1,
                QWidget* parent = nullptr);

    int Count() const { return static_cast<int>(buttons_.size()); }
    QString ItemText(int index) const;
    QRadioButton* Button(int index) const;

    // The selected item, -1 when none.
    int ItemIndex() const;
    // Selects an item without emitting clicks; -1 (or any index outside the
    // items) clears the selection.
    void SetItemIndex(int index);

  private:
    QButtonGroup* group_;
    std::vector<QRadioButton*> buttons_;
};
