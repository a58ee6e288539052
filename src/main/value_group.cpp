#include "main/value_group.h"

#include <QGridLayout>

TValueGroup::TValueGroup(const QString& caption, QWidget* parent)
    : QGroupBox(caption, parent), grid_(new QGridLayout(this)) {
    grid_->setContentsMargins(6, 4, 6, 4);
    grid_->setHorizontalSpacing(10);
    grid_->setVerticalSpacing(1);
    grid_->setColumnStretch(1, 1);
}

QLabel* TValueGroup::AddRow(const QString& caption, const QString& valueName) {
    const int row = grid_->rowCount();
    auto* label = new QLabel(caption, this);
    auto* value = new QLabel(this);
    value->setObjectName(valueName);
    value->setStyleSheet(QStringLiteral("color: blue"));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid_->addWidget(label, row, 0);
    grid_->addWidget(value, row, 1);
    values_.push_back(value);
    return value;
}
