#pragma once

#include <QString>

namespace trelvo::ui {

/// The folder of the program's shared files (icons, the user guide): "share/trelvo" beside
/// an installed program's "bin" folder, else the source tree's "share" folder.
QString sharedFolder();
/// A shared file by its path inside that folder ("icons/slot-status.png").
QString sharedFile(const QString& relativePath);

} // namespace trelvo::ui
