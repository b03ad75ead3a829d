#include "ui/TVstEdt.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMoveEvent>
#include <string>

#include "diag/DiagLog.h"

// Last: Xlib's macros (Status, Bool, None) would rewrite names of the headers above.
#include <X11/Xlib.h>

namespace trelvo::ui {

namespace {

/// The grey a plug-in's editor window shows until the plug-in draws.
constexpr QRgb kEditorGrey = 0xA8A8A8;

/// An X error of a plug-in's editor (a window it names that has gone, say) is logged; Xlib's
/// own handler would end the program, and the music with it.
int logX11Error(Display* display, XErrorEvent* error) {
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof text - 1);
    diag::hookedLogError(std::string("X11 error: ") + text + " (request " + std::to_string(error->request_code) + ")");
    return 0;
}

} // namespace

void installX11ErrorHandler() {
    XSetErrorHandler(logX11Error);
}

TVstEdt::TVstEdt(QWidget* parent, int slot, int left, int top, int width, int height)
    : QMdiSubWindow(parent), SlotIndex(slot), InitLeft(left), InitTop(top), InitWidth(width), InitHeight(height) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setObjectName("TVstEdt");
    content = new QWidget(this);
    content->setObjectName("EditorContent");
    // The plug-in draws into a window of its own inside this one; Qt only fills the grey
    // around it.
    content->setAttribute(Qt::WA_NativeWindow);
    content->setAutoFillBackground(true);
    QPalette grey = content->palette();
    grey.setColor(QPalette::Window, QColor::fromRgb(kEditorGrey));
    content->setPalette(grey);
    setWidget(content);
    setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    move(left, top);
    setClientSize(width, height);
}

unsigned long TVstEdt::nativeHandle() {
    const WId id = content->winId();
    // Qt queues its requests on its own connection: the window must exist on the server
    // before a plug-in's connection names it as a parent.
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>(); x11 && x11->display())
        XSync(x11->display(), False);
    return static_cast<unsigned long>(id);
}

void TVstEdt::setClientSize(int width, int height) {
    content->setFixedSize(std::max(width, 0), std::max(height, 0));
    adjustSize();
}

QSize TVstEdt::clientSize() const {
    return content->size();
}

void TVstEdt::moveEvent(QMoveEvent* event) {
    QMdiSubWindow::moveEvent(event);
    Q_EMIT moved(SlotIndex, event->pos());
}

void TVstEdt::closeEvent(QCloseEvent* event) {
    if (!closingFromHost) {
        // The main window closes the plug-in's editor and then this window.
        event->ignore();
        Q_EMIT closeRequested(SlotIndex);
        return;
    }
    QMdiSubWindow::closeEvent(event);
}

void TVstEdt::mousePressEvent(QMouseEvent* event) {
    Q_EMIT touched(SlotIndex);
    QMdiSubWindow::mousePressEvent(event);
}

void TVstEdt::resizeEvent(QResizeEvent* event) {
    QMdiSubWindow::resizeEvent(event);
    Q_EMIT touched(SlotIndex);
}

} // namespace trelvo::ui
