#include "ui/SharedFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace trelvo::ui {

QString sharedFolder() {
    const QString installed = QCoreApplication::applicationDirPath() + "/../share/trelvo";
    if (QFileInfo(installed + "/icons").isDir()) return QDir::cleanPath(installed);
    return QStringLiteral(TRELVO_SHARE_DIR);
}

QString sharedFile(const QString& relativePath) {
    return sharedFolder() + "/" + relativePath;
}

} // namespace trelvo::ui
