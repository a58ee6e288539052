// The upload dialog as the window shows it, on its own, for the test that drives it through a
// real X server (upload_x11_test): the dialog on a stopped link to DEVICE with the main code
// file HEX; confirming the power-cycle prompt switches the simulator process SIM_PID off and
// on. It tells the test on standard output where its buttons are (relative to the dialog's
// window) and, as they happen, every status text, progress value, caption of the action
// button and text of a message box that comes up, one line each.
//
//   upload_dialog_program DEVICE SIM_PID HEX
#include <signal.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <string>

#include "digitizer/digitizer.h"
#include "upload/upload_dlg.h"

namespace {

void Tell(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void TellPlace(const char* name, const QWidget& dialog, const QWidget& button) {
    const QPoint at = button.mapTo(&dialog, QPoint(0, 0));
    Tell(QStringLiteral("%1 %2 %3 %4 %5")
             .arg(QString::fromLatin1(name))
             .arg(at.x())
             .arg(at.y())
             .arg(button.width())
             .arg(button.height()));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: upload_dialog_program DEVICE SIM_PID HEX\n");
        return 2;
    }
    const pid_t sim = static_cast<pid_t>(std::stol(argv[2]));
    TDigitizer link(1, 19200, nullptr, argv[1]);
    link.Stop();
    TUploadDlg dialog(link, 1);
    dialog.MainFile()->setText(QString::fromLocal8Bit(argv[3]));
    dialog.SetPowerCycle([sim] { kill(sim, SIGUSR1); });

    // What the user sees, told as it changes.
    QString status, caption, box;
    int progress = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (dialog.Status()->text() != status) {
            status = dialog.Status()->text();
            Tell(QStringLiteral("status ") + status);
        }
        if (dialog.ProgressBar()->value() != progress) {
            progress = dialog.ProgressBar()->value();
            Tell(QStringLiteral("progress ") + QString::number(progress));
        }
        const QString action = dialog.ActionButton()->text() +
                               (dialog.ActionButton()->isEnabled() ? QString() : " (disabled)");
        if (action != caption) {
            caption = action;
            Tell(QStringLiteral("action ") + caption);
        }
        const auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        const QString text = shown != nullptr ? shown->text() : QString();
        if (text != box) {
            box = text;
            Tell(QStringLiteral("box ") + box);
        }
    });
    watch.start(20);

    dialog.show();
    QTimer::singleShot(0, [&] {
        TellPlace("UploadButton", dialog, *dialog.UploadButton());
        TellPlace("ActionButton", dialog, *dialog.ActionButton());
    });
    dialog.exec();
    Tell(QStringLiteral("closed"));
    return 0;
}
