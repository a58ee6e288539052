// The About box: the program's description, version and copyright notice from
// its version information, and the maker's web site as a link that opens in
// the user's browser. OK, Enter and Escape close it.
#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>

#include "about/version_info.h"

class QGroupBox;
class QLabel;
class QPushButton;

class TAboutDlg : public QDialog {
    Q_OBJECT
  public:
    // Opens an address in the user's browser (QDesktopServices::openUrl);
    // whether it could is not looked at.
    using TUrlOpener = std::function<bool(const QUrl&)>;

    // The labels are filled from `info` (the program's own unless a test gives
    // other); without information, or where it lacks a text, a label keeps
    // the text it was created with.
    explicit TAboutDlg(QWidget* owner = nullptr, const TVersionInfo* info = &ProgramVersionInfo());

    // The link: its text handed to the browser.
    void HttpLabelClick();
    void SetUrlOpener(TUrlOpener opener) { opener_ = std::move(opener); }

    QLabel* FileDescription() const { return fileDescription_; }
    QLabel* FileVersion() const { return fileVersion_; }
    QLabel* LegalCopyright() const { return legalCopyright_; }
    QLabel* HttpLabel() const { return httpLabel_; }
    QPushButton* Button1() const { return button1_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void ShowVersionInfo(const TVersionInfo* info);
    // After the texts are in: the box's size is final only then.
    void CentreOnScreen();

    TUrlOpener opener_;
    QLabel* fileDescription_ = nullptr;
    QLabel* fileVersion_ = nullptr;
    QLabel* legalCopyright_ = nullptr;
    QLabel* httpLabel_ = nullptr;
    QPushButton* button1_ = nullptr;
};
