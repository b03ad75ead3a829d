#pragma once

#include <QMdiSubWindow>

namespace trelvo::ui {

/// A plug-in's editor: a child window of the main window's client area whose content is a
/// native X11 window. The plug-in's editor opens inside that native window (its id goes to
/// effEditOpen) and draws there itself. Thread: user interface.
class TVstEdt : public QMdiSubWindow {
    Q_OBJECT
public:
    TVstEdt(QWidget* parent, int slot, int left, int top, int width, int height);

    /// The slot whose editor this is; the main window renumbers it when the rack changes.
    int SlotIndex;
    const int InitLeft, InitTop, InitWidth, InitHeight;

    /// The native window the plug-in draws into, created on the X server and flushed, so
    /// that the plug-in's own X connection can use it at once.
    unsigned long nativeHandle();
    /// Gives the editor a client area of width x height.
    void setClientSize(int width, int height);
    QSize clientSize() const;

Q_SIGNALS:
    /// The window moved: its new top-left corner in the client area.
    void moved(int slot, const QPoint& at);
    /// The user closed the window (its close button, or the window menu).
    void closeRequested(int slot);
    /// A mouse press on the frame, or a resize: the editor becomes the active one.
    void touched(int slot);

protected:
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* content;
    bool closingFromHost = false;
    friend class TMainForm;
};

/// Logs X errors instead of ending the program (Xlib's default). Thread: user interface,
/// before any editor opens.
void installX11ErrorHandler();

} // namespace trelvo::ui
