#include "main/value_group.h"

#include <QGridLayout>
#include <QScrollArea>
#include <QVBoxLayout>

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
    // A palette rather than a style sheet: styled labels keep their font when
    // the desktop's font changes.
    QPalette palette = value->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    value->setPalette(palette);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid_->addWidget(label, row, 0);
    grid_->addWidget(value, row, 1);
    values_.push_back(value);
    return value;
}

TValueGroup* MakeValueGroup(const QString& caption, std::initializer_list<TValueRow> rows,
                            QHash<QString, QLabel*>& values, QWidget* parent) {
    auto* group = new TValueGroup(caption, parent);
    for (const TValueRow& row : rows) {
        const QString name = QString::fromLatin1(row.Value);
        values.insert(name, group->AddRow(QString::fromLatin1(row.Caption), name));
    }
    return group;
}

QWidget* ScrollingContent(QWidget* page) {
    auto* scroll = new QScrollArea(page);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* content = new QWidget(scroll);
    scroll->setWidget(content);
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    return content;
}
