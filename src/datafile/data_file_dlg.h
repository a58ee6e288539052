// The data file dialog: the recording options, editable only while the link is
// stopped. The main window copies the settings in before showing it and takes them back when
// it closes with OK. "Save StationXML..." saves the recording's metadata document, which the
// window makes when asked.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <string>
#include <string_view>

#include "recording/file_settings.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The SEED lengths of the codes the dialog edits.
constexpr int StationCodeLength = 5;
constexpr int LocationCodeLength = 2;
constexpr int NetworkCodeLength = 2;

// A code as the dialog shows and takes it: the printable ASCII characters of `text` other
// than the space, at most `length` of them. Bytes outside ASCII are dropped, so a character
// of UTF-8 goes whole and is never cut.
std::string SeedCodeText(std::string_view text, int length);

// The folder browser: QFileDialog for directories, opened at `startFolder`. Returns the chosen
// directory's path, or an empty string when the user cancels or the pick is not a directory
// of the file system.
QString BrowseForFolder(QWidget* owner, const QString& title, const QString& startFolder);

// The save dialog: QFileDialog for an XML file, opened at `suggested`. The chosen path, or an
// empty string when the user cancels.
QString ChooseXmlFile(QWidget* owner, const QString& title, const QString& suggested);

class TDataFileDlg : public QDialog {
    Q_OBJECT
  public:
    // A folder browser: owner, title, start folder; the chosen path or "".
    using TFolderBrowser = std::function<QString(QWidget*, const QString&, const QString&)>;
    // The recording's StationXML document; empty while there is none (no block yet).
    using TStationXmlSource = std::function<std::string()>;
    // Tells the user that the document could not be saved.
    using TFailureReport = std::function<void(QWidget*, const QString&)>;

    explicit TDataFileDlg(QWidget* owner = nullptr);

    // Steps 2 and 3 of DataFileButtonClick: the options into the controls (UseSNum before
    // StationEdit, so that the station field opens disabled when the option is on).
    void SetOptions(const TFileSettings& settings);
    // Step 5, after OK: Enable, DurationMinutes, Location, Network, UseSerialNumber, Station
    // and BaseDir, which loses one trailing "/". The codes are kept to their SEED lengths
    // in ASCII, as the fields show them.
    void TakeOptions(TFileSettings& settings) const;

    // The handlers.
    // An emptied duration or one below 1 (0 typed) becomes 1, shown and in force.
    void DurationSpinEditChange();
    void UseSNumClick();
    void DataPathButtonClick();
    // Whether a typed character goes into the duration: control characters and digits do;
    // anything else is refused with a beep (DurationSpinEditKeyPress).
    bool DurationSpinEditKeyPress(char32_t key);
    // Asks for a file (suggested: NET.STA.xml in the data folder) and saves the document
    // there, replacing the file as a whole; a failure is reported, nothing is half written.
    void StationXmlButtonClick();

    // The browser DataPathButtonClick opens; BrowseForFolder unless a test sets its own.
    void SetFolderBrowser(TFolderBrowser browser) { browser_ = std::move(browser); }
    // The document's source; the button is enabled only with one.
    void SetStationXml(TStationXmlSource source);
    // The save dialog StationXmlButtonClick opens (ChooseXmlFile unless a test sets its own),
    // and how it reports a failure (a warning box unless a test sets its own).
    void SetXmlFileChooser(TFolderBrowser chooser) { xmlChooser_ = std::move(chooser); }
    void SetFailureReport(TFailureReport report) { report_ = std::move(report); }

    QCheckBox* EnableDataFiles() const { return enableDataFiles_; }
    QSpinBox* DurationSpinEdit() const { return durationSpinEdit_; }
    QLineEdit* StationEdit() const { return stationEdit_; }
    QCheckBox* UseSNum() const { return useSNum_; }
    QLineEdit* LocationEdit() const { return locationEdit_; }
    QLineEdit* NetworkEdit() const { return networkEdit_; }
    QLineEdit* DataPathLocn() const { return dataPathLocn_; }
    QPushButton* DataPathButton() const { return dataPathButton_; }
    QPushButton* StationXmlButton() const { return stationXmlButton_; }
    QPushButton* OKButton() const { return okButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();

    TFolderBrowser browser_ = BrowseForFolder;
    TFolderBrowser xmlChooser_ = ChooseXmlFile;
    TStationXmlSource stationXml_;
    TFailureReport report_;
    QCheckBox* enableDataFiles_ = nullptr;
    QSpinBox* durationSpinEdit_ = nullptr;
    QLineEdit* stationEdit_ = nullptr;
    QCheckBox* useSNum_ = nullptr;
    QLineEdit* locationEdit_ = nullptr;
    QLineEdit* networkEdit_ = nullptr;
    QLineEdit* dataPathLocn_ = nullptr;
    QPushButton* dataPathButton_ = nullptr;
    QPushButton* stationXmlButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};
