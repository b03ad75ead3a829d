// Pictures of plug-in editors: the main window's capture commands, the scan window and the
// quick scan of the VST folders.

#include "ui/EditorPictures.h"

#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPixmap>
#include <QScreen>

#include "host/TVstPlugIn.h"
#include "persist/AppSettings.h"
#include "platform/TrelvoHome.h"
#include "session/PluginScanner.h"
#include "session/RackController.h"
#include "ui/CommonDialogs.h"
#include "ui/TMainForm.h"
#include "ui/TVstEdt.h"
#include "ui/TfrmScanList.h"

namespace trelvo::ui {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QByteArray encoded(const QPixmap& picture, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, format);
    return bytes;
}

} // namespace

bool captureWindow(unsigned long window, const QString& target, QString& error) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap picture = screen != nullptr && window != 0 ? screen->grabWindow(window) : QPixmap();
    if (picture.isNull() || picture.width() < 1 || picture.height() < 1) {
        error = "the editor shows nothing to take a picture of";
        return false;
    }
    if (target == "ClpBrdBMP" || target == "ClpBrdPNG") {
        auto* data = new QMimeData;
        const bool png = target == "ClpBrdPNG";
        data->setData(png ? "image/png" : "image/bmp", encoded(picture, png ? "PNG" : "BMP"));
        data->setImageData(picture.toImage());
        QGuiApplication::clipboard()->setMimeData(data);
        return true;
    }
    const bool png = target.endsWith(".png", Qt::CaseInsensitive);
    const QByteArray bytes = encoded(picture, png ? "PNG" : "BMP");
    std::string reason;
    if (bytes.isEmpty() || !platform::writeFileAtomically(target.toStdString(), bytes.toStdString(), reason)) {
        error = bytes.isEmpty() ? QString("the picture could not be encoded") : qs(reason);
        return false;
    }
    return true;
}

void TMainForm::captureEditor(const QString& target) {
    const int slot = rack.selected;
    TVstEdt* editor = slot >= 0 ? editorOf(slot) : nullptr;
    if (editor == nullptr) return;
    QString file = target;
    if (target.startsWith('.')) {
        const bool png = target == ".png";
        std::string proposal =
            rack.appSettings().vstImagesFolder + "/" + rack.rack().slot(slot).GetEffectName() + target.toStdString();
        file = qs(proposal);
        if (!fileDialog(this, file, "Save VST-GUI image as", kSaveAskOverwrite,
                        png ? "Portable Network Graphics (*.png)|*.png|all files (*.*)|*.*"
                            : "Windows Bitmap (*.bmp)|*.bmp|all files (*.*)|*.*",
                        target))
            return;
        rack.appSettings().vstImagesFolder = platform::withoutTrailingSlash(file.section('/', 0, -2).toStdString());
    }
    // The dialog is gone from above the editor before the picture is taken.
    repaint();
    QGuiApplication::processEvents();
    QString error;
    if (!captureWindow(editor->nativeHandle(), file, error))
        errorBox(this, "Cannot take the editor's picture:\n" + error);
}

void TMainForm::openScanList() {
    if (!scanList) scanList = new TfrmScanList(rack, this);
    scanList->setAttribute(Qt::WA_DeleteOnClose);
    scanList->show();
    scanList->raise();
    scanList->activateWindow();
}

void TMainForm::quickScan() {
    rack::PluginScanner::Environment environment;
    environment.imagesFolder = rack.appSettings().vstImagesFolder;
    for (const auto& [folder, name] : rack.appSettings().vstFolders) environment.vstFolders.push_back(folder);
    rack::PluginScanner scanner(environment);
    messageDialog(this, qs(scanner.scan("*")));
}

} // namespace trelvo::ui
