#include "ui/StatusWindows.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cstdlib>

#include "diag/DiagLog.h"
#include "persist/IniFile.h"

namespace trelvo::ui {

namespace {

constexpr int kEdge = 3; ///< the band along the border that resizes

QPushButton* smallButton(const QString& text, QWidget* parent, const char* name) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFixedSize(18, 16);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFlat(true);
    return button;
}

Qt::Edges edgesOf(int zone) {
    switch (zone) {
    case 1: return Qt::TopEdge | Qt::LeftEdge;
    case 2: return Qt::TopEdge;
    case 3: return Qt::TopEdge | Qt::RightEdge;
    case 4: return Qt::RightEdge;
    case 5: return Qt::BottomEdge | Qt::RightEdge;
    case 6: return Qt::BottomEdge;
    case 7: return Qt::BottomEdge | Qt::LeftEdge;
    case 8: return Qt::LeftEdge;
    default: return {};
    }
}

Qt::CursorShape cursorOf(int zone) {
    switch (zone) {
    case 1:
    case 5: return Qt::SizeFDiagCursor;
    case 3:
    case 7: return Qt::SizeBDiagCursor;
    case 2:
    case 6: return Qt::SizeVerCursor;
    case 4:
    case 8: return Qt::SizeHorCursor;
    default: return Qt::ArrowCursor;
    }
}

} // namespace

// ---- The companion window ----

CompanionWindow::CompanionWindow(QWidget* mainWindow, const QString& section, const std::string& file)
    : QWidget(mainWindow, Qt::Tool | Qt::FramelessWindowHint), owner(mainWindow), sectionName(section),
      settingsFile(file), leftGrip(new QWidget(this)) {
    setObjectName(section);
    setAttribute(Qt::WA_DeleteOnClose);
    setMouseTracking(true);
    leftGrip->setObjectName("Panel1");
    leftGrip->setCursor(Qt::SizeAllCursor);
    leftGrip->installEventFilter(this);
    if (owner != nullptr) owner->installEventFilter(this);
}

void CompanionWindow::readPlace(int count, const std::array<Layout, 2>& defaults) {
    layoutCount = count;
    persist::IniHandle handle;
    persist::OpenIni(handle, settingsFile, sectionName.toStdString(), persist::kIniRead);
    for (int n = 0; n < count; ++n) {
        const std::string suffix = "-" + std::to_string(n + 1);
        Layout& layout = layouts[static_cast<std::size_t>(n)];
        const Layout& fallback = defaults[static_cast<std::size_t>(n)];
        layout.left = persist::IniInt(handle, "Left" + suffix, fallback.left);
        layout.top = persist::IniInt(handle, "Top" + suffix, fallback.top);
        layout.width = std::max(persist::IniInt(handle, "Width" + suffix, fallback.width), minimumWidth());
        layout.height = std::max(persist::IniInt(handle, "Height" + suffix, fallback.height), minimumHeight());
    }
    current = count > 1 ? std::clamp(persist::IniInt(handle, "mMode", 1), 1, count) : 1;
    persist::CloseIni(handle);
}

void CompanionWindow::writePlace(bool open) {
    keepPlace();
    persist::IniHandle handle;
    persist::OpenIni(handle, settingsFile, sectionName.toStdString(), persist::kIniWrite);
    for (int n = 0; n < layoutCount; ++n) {
        const std::string suffix = "-" + std::to_string(n + 1);
        const Layout& layout = layouts[static_cast<std::size_t>(n)];
        persist::IniInt(handle, "Left" + suffix, layout.left);
        persist::IniInt(handle, "Top" + suffix, layout.top);
        persist::IniInt(handle, "Width" + suffix, layout.width);
        persist::IniInt(handle, "Height" + suffix, layout.height);
    }
    if (layoutCount > 1) persist::IniInt(handle, "mMode", current);
    persist::IniBool(handle, "isOpen", open);
    persist::CloseIni(handle);
}

void CompanionWindow::keepPlace() {
    if (!isVisible() || owner == nullptr) return;
    Layout& layout = layouts[static_cast<std::size_t>(current - 1)];
    const QPoint base = owner->frameGeometry().topLeft();
    layout.left = x() - base.x();
    layout.top = y() - base.y();
    layout.width = width();
    layout.height = height();
}

void CompanionWindow::useLayout(int number) {
    if (number < 1 || number > layoutCount) return;
    current = number;
    const Layout& layout = layouts[static_cast<std::size_t>(current - 1)];
    resize(std::max(layout.width, minimumWidth()), std::max(layout.height, minimumHeight()));
    follow();
}

void CompanionWindow::follow() {
    if (owner == nullptr) return;
    const Layout& layout = layouts[static_cast<std::size_t>(current - 1)];
    move(owner->frameGeometry().topLeft() + QPoint(layout.left, layout.top));
}

int CompanionWindow::zoneAt(const QPoint& at) const {
    const bool left = at.x() < kEdge, right = at.x() >= width() - kEdge;
    const bool top = at.y() < kEdge, bottom = at.y() >= height() - kEdge;
    if (top && left) return 1;
    if (top && right) return 3;
    if (bottom && right) return 5;
    if (bottom && left) return 7;
    if (top) return 2;
    if (right) return 4;
    if (bottom) return 6;
    if (left) return 8;
    return 0;
}

void CompanionWindow::mousePressEvent(QMouseEvent* event) {
    const int zone = zoneAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && zone != 0 && windowHandle() != nullptr) {
        windowHandle()->startSystemResize(edgesOf(zone));
        return;
    }
    QWidget::mousePressEvent(event);
}

void CompanionWindow::mouseMoveEvent(QMouseEvent* event) {
    setCursor(cursorOf(zoneAt(event->position().toPoint())));
    QWidget::mouseMoveEvent(event);
}

bool CompanionWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == leftGrip && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && windowHandle() != nullptr) {
        windowHandle()->startSystemMove();
        return true;
    }
    // The main window moved or changed size: the companion keeps its offsets.
    if (watched == owner && (event->type() == QEvent::Move || event->type() == QEvent::Resize) && isVisible()) follow();
    return QWidget::eventFilter(watched, event);
}

void CompanionWindow::keepOpen() {
    writePlace(true);
    keptOpen = true;
}

void CompanionWindow::closeEvent(QCloseEvent* event) {
    if (!keptOpen) writePlace(false);
    Q_EMIT closed();
    QWidget::closeEvent(event);
}

// ---- The status window ----

TFrmSts::TFrmSts(QWidget* mainWindow, const std::string& file)
    : CompanionWindow(mainWindow, "FrmSts", file), text(new QPlainTextEdit(this)) {
    setMinimumSize(150, 44);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kEdge, kEdge, kEdge, kEdge);
    layout->setSpacing(2);
    auto* column = new QVBoxLayout(grip());
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    grip()->setFixedWidth(20);
    QPushButton* one = smallButton("1", grip(), "btn1");
    QPushButton* two = smallButton("2", grip(), "btn2");
    QPushButton* close = smallButton("X", grip(), "btnX");
    column->addWidget(one);
    column->addWidget(two);
    column->addWidget(close);
    column->addStretch(1);
    layout->addWidget(grip());
    text->setObjectName("Info");
    text->setReadOnly(true);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setStyleSheet("QPlainTextEdit { background: silver; color: black; }");
    layout->addWidget(text, 1);
    connect(one, &QPushButton::clicked, this, [this] { showLayout(1); });
    connect(two, &QPushButton::clicked, this, [this] { showLayout(2); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    readPlace(2, {Layout{228, 0, 352, 44}, Layout{228, 0, 270, 87}});
    diag::theLog().switches.statusOpen = true;
}

TFrmSts::~TFrmSts() {
    diag::theLog().switches.statusOpen = false;
}

void TFrmSts::showLayout(int number) {
    if (!isVisible()) {
        useLayout(current);
        show();
        statusLine("~");
    }
    if (number == 0 || number == current) return;
    // The layout being left keeps where the user put it.
    layouts[static_cast<std::size_t>(current - 1)] = {x() - owner->frameGeometry().x(),
                                                      y() - owner->frameGeometry().y(), width(), height()};
    useLayout(number);
}

void TFrmSts::statusLine(const std::string& line) {
    if (line == "~") {
        QString all;
        for (const std::string& logged : diag::theLog().logLines()) all += QString::fromStdString(logged) + "\n";
        text->setPlainText(all);
    } else {
        text->appendPlainText(QString::fromStdString(line));
    }
    text->verticalScrollBar()->setValue(text->verticalScrollBar()->maximum());
}

// ---- The control-surface status window ----

TFrmMcuSts::TFrmMcuSts(QWidget* mainWindow, const std::string& file)
    : CompanionWindow(mainWindow, "FrmMcuSts", file), text(new QPlainTextEdit(this)), assignment(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kEdge, kEdge, kEdge, kEdge);
    layout->setSpacing(2);
    grip()->setFixedWidth(10);
    grip()->setObjectName("pnlLeft");
    layout->addWidget(grip());
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setFamilies({"Courier New", "Liberation Mono", mono.family()});
    text->setObjectName("Info");
    text->setFont(mono);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text->setStyleSheet("QPlainTextEdit { background: #000050; color: #E0E0E0; }");
    layout->addWidget(text, 1);
    QFont big = mono;
    big.setBold(true);
    big.setPixelSize(21);
    assignment->setObjectName("Asgn");
    assignment->setFont(big);
    assignment->setText("-.-");
    assignment->setAlignment(Qt::AlignCenter);
    assignment->setStyleSheet("QLabel { background: #200000; color: red; padding: 0 4px; }");
    layout->addWidget(assignment);
    QPushButton* close = smallButton("X", this, "btnX");
    layout->addWidget(close, 0, Qt::AlignTop);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    setMinimumSize(kMinimumWidth, minimumHeightFor());
    // By default wide enough for the surface's 56 characters a line.
    const int lineWidth = QFontMetrics(mono).horizontalAdvance(QString(56, 'M')) + 2 * text->frameWidth() + 12;
    const int fullWidth = lineWidth + assignment->sizeHint().width() + close->sizeHint().width() + 10 + 4 * kEdge;
    readPlace(1, {Layout{250, 0, std::max(kMinimumWidth, fullWidth), minimumHeightFor()}, Layout{}});
    useLayout(1);
    setDisplay("no surface");
}

int TFrmMcuSts::minimumHeightFor() const {
    // Two display lines and the frame around them.
    return (std::abs(QFontMetrics(text->font()).height()) + 3) * 2 + 2 * text->frameWidth() + 4;
}

void TFrmMcuSts::setDisplay(const QString& lines) {
    if (text->toPlainText() != lines) text->setPlainText(lines);
}

void TFrmMcuSts::setAssignment(const QString& shown) {
    assignment->setText(shown);
}

QString TFrmMcuSts::displayText() const {
    return text->toPlainText();
}

QString TFrmMcuSts::assignmentText() const {
    return assignment->text();
}

} // namespace trelvo::ui
