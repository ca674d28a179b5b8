#include "ui/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace quindel {

std::string programFolder() {
    QString dir = QCoreApplication::applicationDirPath();
    if (dir.isEmpty())
        dir = QDir::currentPath();
    return QDir::cleanPath(dir).toStdString();
}

} // namespace quindel
