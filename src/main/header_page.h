// The Header page: the most recent block's header values and its fourteen
// state-of-health readings, in five groups. It has no inputs of its own.
#pragma once

#include <QHash>
#include <QLabel>
#include <QWidget>

struct THeaderTexts;

class THeaderPage : public QWidget {
    Q_OBJECT
  public:
    explicit THeaderPage(QWidget* parent = nullptr);

    void Show(const THeaderTexts& texts);
    // Empties every value label.
    void Clear();
    // The value label of that name (for tests and the shell).
    QLabel* Value(const QString& name) const { return values_.value(name); }

  private:
    QHash<QString, QLabel*> values_;
};
