#include "about/program_icon.h"

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/hicolor/%1x%1/apps/kestrel32.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}

QIcon DigitizerIcon() {
    QIcon icon;
    for (int size : {32, 64}) {
        icon.addFile(QStringLiteral(":/icons/digitizer-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}
