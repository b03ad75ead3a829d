#pragma once

#include <QWidget>
#include <array>
#include <string>

class QLabel;
class QPlainTextEdit;

namespace trelvo::ui {

/// A small borderless companion of the main window: a grip on its left moves it, its edges
/// resize it, and it keeps its place relative to the main window. Its place and size live
/// in a section of the settings file named after it, read when it is made and written when
/// it closes.
class CompanionWindow : public QWidget {
    Q_OBJECT
public:
    CompanionWindow(QWidget* mainWindow, const QString& section, const std::string& settingsFile);

    /// Places the window by the main window's position and the current layout's offsets.
    void follow();
    /// The zone of an edge under a point: 0 inside, 1 top-left corner, then clockwise to 8
    /// the left edge.
    int zoneAt(const QPoint& at) const;
    /// The main window closes with this one open: it opens again at the next start.
    void keepOpen();

Q_SIGNALS:
    void closed();

protected:
    struct Layout {
        int left = 0, top = 0, width = 0, height = 0;
    };
    /// Reads the layouts ("Left-n", "Top-n", "Width-n", "Height-n") and mMode.
    void readPlace(int layouts, const std::array<Layout, 2>& defaults);
    /// Stores the current place into the current layout and writes the section.
    void writePlace(bool open);
    void useLayout(int number);
    QWidget* grip() const { return leftGrip; }

    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    QWidget* owner;
    QString sectionName;
    std::string settingsFile;
    std::array<Layout, 2> layouts{};
    int layoutCount = 1;
    int current = 1;

private:
    void keepPlace();
    QWidget* leftGrip;
    bool keptOpen = false;
};

/// The status window: the status and log lines as they come, in two remembered layouts.
class TFrmSts : public CompanionWindow {
    Q_OBJECT
public:
    TFrmSts(QWidget* mainWindow, const std::string& settingsFile);
    ~TFrmSts() override;

    /// Shows the window in layout 1 or 2 ("1" and "2" switch only to the other one); 0
    /// shows it in the layout it had last.
    void showLayout(int number);
    int layoutNumber() const { return current; }
    /// A status line; "~" instead refills the window with every line of the log list.
    void statusLine(const std::string& text);
    QPlainTextEdit* info() const { return text; }

private:
    QPlainTextEdit* text;
};

/// What the control surface shows, on screen: its display and its assignment display.
class TFrmMcuSts : public CompanionWindow {
    Q_OBJECT
public:
    TFrmMcuSts(QWidget* mainWindow, const std::string& settingsFile);
    static constexpr int kMinimumWidth = 467;
    int minimumHeightFor() const;

    void setDisplay(const QString& lines);
    void setAssignment(const QString& text);
    QString displayText() const;
    QString assignmentText() const;

private:
    QPlainTextEdit* text;
    QLabel* assignment;
};

} // namespace trelvo::ui
