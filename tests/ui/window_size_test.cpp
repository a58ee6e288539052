// The window's smallest size: at it, every page shows each of its controls at
// least at the size the control needs for its text, and six channels of figures
// stack without one panel's labels running into the next channel's.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QTabWidget>
#include <string>
#include <vector>

#include "main/details_panel.h"
#include "support/blocks.h"
#include "support/qt_wait.h"
#include "support/window_fixture.h"

using namespace std::chrono_literals;

namespace {

using WindowSizeTest = TWindowTest;

// The controls a layout places on `page`, each smaller than its text needs.
std::vector<std::string> Squeezed(QWidget* page) {
    std::vector<std::string> squeezed;
    for (QWidget* w : page->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                             qobject_cast<QLineEdit*>(w);
        const QLayout* layout = w->parentWidget() ? w->parentWidget()->layout() : nullptr;
        if (!control || !w->isVisible() || layout == nullptr || layout->indexOf(w) < 0) {
            continue;
        }
        // A size the program fixed is the control's design; a layout gives at least the hint.
        const QSize needed = w->minimumSizeHint().boundedTo(w->maximumSize());
        if (!w->parentWidget()->rect().contains(w->geometry())) {
            squeezed.push_back(w->objectName().toStdString() + " cut off by the edge");
        } else if (w->width() < needed.width() || w->height() < needed.height()) {
            squeezed.push_back(w->objectName().toStdString() + " " + std::to_string(w->width()) +
                               "x" + std::to_string(w->height()) + " < " +
                               std::to_string(needed.width()) + "x" +
                               std::to_string(needed.height()));
        }
    }
    return squeezed;
}

// Labels of a figures panel that leave the panel or overlap another label.
std::vector<std::string> Crowded(const TDetailsPanel& panel) {
    std::vector<std::string> crowded;
    std::vector<QLabel*> labels;
    for (QLabel* label : panel.findChildren<QLabel*>()) {
        if (label->isVisible()) {
            labels.push_back(label);
        }
    }
    for (size_t i = 0; i < labels.size(); ++i) {
        const QRect here = labels[i]->geometry();
        if (!panel.rect().contains(here)) {
            crowded.push_back(labels[i]->objectName().toStdString() + " outside the panel");
        }
        for (size_t j = i + 1; j < labels.size(); ++j) {
            if (here.intersects(labels[j]->geometry())) {
                crowded.push_back(labels[i]->objectName().toStdString() + " on " +
                                  labels[j]->objectName().toStdString());
            }
        }
    }
    return crowded;
}

}  // namespace

TEST_F(WindowSizeTest, AtItsSmallestEveryPageFitsItsControlsAndSixChannelsOfFigures) {
    // A larger font than the design's: the smallest size follows the font.
    const QFont before = QApplication::font();
    QFont larger = before;
    larger.setPixelSize(18);
    QApplication::setFont(larger);
    OpenSilent();
    form_->ProcessBlock(MakeBlock({.Channels = 6, .BlockCount = 1}));
    form_->ProcessBlock(MakeBlock({.Channels = 6, .BlockCount = 2}));
    QtRunFor(20ms);
    const QSize smallest = form_->minimumSize();
    EXPECT_LE(smallest.width(), form_->size().width()) << "the window opens at least as large";
    form_->resize(1, 1);  // narrowed and lowered as far as it goes
    QtRunFor(50ms);
    EXPECT_EQ(form_->size(), smallest);

    auto* pages = form_->findChild<QTabWidget*>(QStringLiteral("PageControl"));
    ASSERT_NE(pages, nullptr);
    int panels = 0;
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        QtRunFor(20ms);
        QWidget* page = pages->widget(i);
        const std::string name = page->objectName().toStdString();
        EXPECT_EQ(form_->size(), smallest) << name << ": no page makes the window grow";
        for (const std::string& control : Squeezed(page)) {
            ADD_FAILURE() << name << ": " << control;
        }
        for (const TDetailsPanel* panel : page->findChildren<TDetailsPanel*>()) {
            ++panels;
            for (const std::string& label : Crowded(*panel)) {
                ADD_FAILURE() << name << ": " << label;
            }
        }
    }
    EXPECT_GE(panels, 3) << "the Channels, Temperatures and FFT figures";
    QApplication::setFont(before);
}
