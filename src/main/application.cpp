#include "main/application.h"

#include <QApplication>

void SetUpApplication(const QString& version) {
    QApplication::setApplicationName(QStringLiteral("kestrel32"));
    QApplication::setApplicationVersion(version);
}
