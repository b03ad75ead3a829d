#pragma once

#include <QString>

namespace trelvo::ui {

/// Takes the picture of a native window as it shows now and puts it where target says:
/// "ClpBrdBMP" or "ClpBrdPNG" the clipboard (image/bmp, or image/png; both also as an
/// image), any other target a file, PNG when its name ends in ".png" in any case, BMP
/// otherwise. False, with the reason in error, when there was nothing to take or the file
/// could not be written.
bool captureWindow(unsigned long window, const QString& target, QString& error);

} // namespace trelvo::ui
