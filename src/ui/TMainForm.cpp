#include "ui/TMainForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDockWidget>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "diag/DiagLog.h"
#include "host/TVstPlugIn.h"
#include "platform/TrelvoHome.h"
#include "session/RackController.h"
#include "session/Session.h"
#include "ui/CommonDialogs.h"
#include "ui/ListPalette.h"
#include "ui/ParameterPanel.h"
#include "ui/SlotListModel.h"
#include "ui/SlotListView.h"
#include "ui/TVstEdt.h"

namespace trelvo::ui {

namespace {

constexpr int kTopBarHeight = 24;
/// The slot list's columns (194 pixels in either view) and a scroll bar.
constexpr int kLeftPanelWidth = 214;
using rack::kTempoDefault;
using rack::kTempoMax;
using rack::kTempoMin;
using rack::kTimeSigMax;
using rack::kTimeSigMin;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString styleColour(std::uint32_t colour) {
    return QString("#%1").arg(colour & 0xFFFFFFu, 6, 16, QChar('0'));
}

/// A header panel: a coloured strip with its own background.
QWidget* headerPanel(QWidget* parent, const char* name) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    panel->setAutoFillBackground(true);
    return panel;
}

} // namespace

TMainForm::TMainForm(app::Session& owner, std::string file, std::string driver)
    : session(owner), rack(*owner.controller), startFile(std::move(file)), driverName(std::move(driver)) {
    setObjectName("MainForm");
    setWindowTitle("Trelvo");
    QFont font("Arial", 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setMinimumSize(640, 457);
    buildLayout();
    buildMenus();
    // The window's place before the settings say where: 10, 10 with 800 x 550.
    setGeometry(10, 10, 800, 550);

    idleTimer = new QTimer(this);
    idleTimer->setInterval(rack.idlePeriodMs());
    connect(idleTimer, &QTimer::timeout, this, &TMainForm::idleTick);
    beatTimer = new QTimer(this);
    beatTimer->setSingleShot(true);
    beatTimer->setInterval(150);
    connect(beatTimer, &QTimer::timeout, this, [this] { beatIndicator->setVisible(true); });

    if (QGuiApplication::platformName() == "xcb") installX11ErrorHandler();
    // The message hook: every event of the application passes here first.
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, [this] { updateZone(); });

    rack.askText = [this](const std::string& caption, const std::string& prompt, std::string& text) {
        QString value = qs(text);
        if (!inputBox(this, qs(caption), qs(prompt), value)) return false;
        text = value.toStdString();
        return true;
    };
    rack.askSavePath = [this](const std::string& title, const std::string& proposed) {
        QString path = qs(proposed);
        if (!fileDialog(this, path, qs(title), 64, "project files (*.vprj)|*.vprj|all files (*.*)|*.*", ".vprj"))
            return std::string();
        return path.toStdString();
    };
    rack.showMessage = [this](const std::string& text) {
        diag::hookedLogError(text);
        messageBox(qs(text));
    };
    diag::hookedLog(" created");
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
    // The widgets below go after this object's own part: no focus news may reach it then.
    disconnect(qApp, nullptr, this, nullptr);
    // After the close sequence the rack is gone with the session's shut-down.
    if (!session.controller) return;
    closeAllEditors();
    rack.askText = nullptr;
    rack.askSavePath = nullptr;
    rack.refreshParameter = nullptr;
    rack.showMessage = [](const std::string& text) { diag::hookedLogError(text); };
    rack.surface().lendNothing();
}

// ---- Layout ----

void TMainForm::buildLayout() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* topLine = new QFrame(central);
    topLine->setFixedHeight(1);
    topLine->setStyleSheet("background: black;");
    column->addWidget(topLine);
    column->addWidget(buildTopBar());

    clientArea = new QMdiArea(central);
    clientArea->setObjectName("ClientArea");
    clientArea->setFrameShape(QFrame::NoFrame);
    column->addWidget(clientArea, 1);
    setCentralWidget(central);

    // The left panel: slot list, presets, and the parameter panel's place.
    leftDock = new QDockWidget(this);
    leftDock->setObjectName("LeftPanel");
    leftDock->setTitleBarWidget(new QWidget(leftDock));
    leftDock->setFeatures(QDockWidget::DockWidgetMovable);
    leftSplit = new QSplitter(Qt::Vertical, leftDock);
    leftSplit->setObjectName("LTsplit");
    leftSplit->setChildrenCollapsible(false);

    model = new SlotListModel(rack, this);
    lv = new SlotListView(leftSplit);
    lv->setObjectName("LV");
    lv->setModel(model);
    lv->setMinimumHeight(84);
    leftSplit->addWidget(lv);
    leftSplit->addWidget(buildPresetPanel());

    parameters = new ParameterPanel(rack, leftSplit);
    parameters->setMinimumHeight(80);
    parameters->hide();
    leftSplit->addWidget(parameters);
    connect(parameters, &ParameterPanel::placeRequested, this, [this](char place) { setParameterPlace(place); });
    rack.refreshParameter = [this](int slot, int parameter) { parameters->refreshParameter(slot, parameter); };
    // A taller window gives its height to the presets; the slot list keeps its own.
    leftSplit->setStretchFactor(0, 0);
    leftSplit->setStretchFactor(1, 1);
    leftDock->setWidget(leftSplit);
    leftDock->setMinimumWidth(kLeftPanelWidth);
    leftDock->installEventFilter(this);
    addDockWidget(Qt::LeftDockWidgetArea, leftDock);

    parameterDock = new QDockWidget(this);
    parameterDock->setObjectName("LparamsDck");
    parameterDock->setWindowTitle("Parameters");
    addDockWidget(Qt::LeftDockWidgetArea, parameterDock);
    parameterDock->hide();

    buildStatusBar();

    connect(lv, &SlotListView::slotSelected, this, [this](int slot) { selectSlot(slot); });
    connect(clientArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
        if (auto* editor = qobject_cast<TVstEdt*>(window)) activateEditor(editor->SlotIndex);
        updateZone();
    });
    connect(lv, &SlotListView::stepValue, this, [this](int valueColumn, int direction) {
        rack.stepFocusedValue(valueColumn, direction);
        refreshSlotList();
    });
    connect(lv, &SlotListView::transportKey, this, &TMainForm::transportKey);
    connect(lv, &SlotListView::programModeMenuRequested, this, &TMainForm::showProgramModeMenu);
    connectSurface();
}

QWidget* TMainForm::buildTopBar() {
    auto* bar = new QWidget(this);
    bar->setFixedHeight(kTopBarHeight);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);

    // The slot list's header: the run button with the program-mode menu, two labels.
    listHeader = headerPanel(bar, "ListHeader");
    listHeader->setFixedWidth(kLeftPanelWidth);
    auto* header = new QHBoxLayout(listHeader);
    header->setContentsMargins(2, 0, 2, 0);
    runButton = new QToolButton(listHeader);
    runButton->setObjectName("RunButton");
    runButton->setText(">");
    runButton->setToolTip("Program mode of the selected slot");
    runButton->setPopupMode(QToolButton::InstantPopup);
    header->addWidget(runButton);
    slotLabel = new QLabel(listHeader);
    slotLabel->setObjectName("SlotLabel");
    slotLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    header->addWidget(slotLabel, 1);
    statusLabel = new QLabel(listHeader);
    statusLabel->setObjectName("StatusLabel");
    statusLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    header->addWidget(statusLabel, 1);
    xrunLabel = new QLabel(listHeader);
    xrunLabel->setObjectName("XrunLabel");
    xrunLabel->hide();
    header->addWidget(xrunLabel);
    row->addWidget(listHeader);

    tabs = new QTabBar(bar);
    tabs->setObjectName("vwTabs");
    tabs->setDrawBase(false);
    tabs->setExpanding(false);
    tabs->setUsesScrollButtons(true);
    tabs->setElideMode(Qt::ElideRight);
    tabs->setMinimumWidth(60);
    tabs->addTab("Page 1");
    connect(tabs, &QTabBar::tabBarClicked, this, [this](int index) {
        if (index >= 0) changePage(index);
    });
    row->addWidget(tabs, 1);
    row->addWidget(buildTransportPanel());
    return bar;
}

QWidget* TMainForm::buildTransportPanel() {
    auto* panel = new QWidget(this);
    panel->setObjectName("TransportPanel");
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(2, 0, 2, 0);
    row->setSpacing(3);
    transportLabel = new QLabel("  1. 1.000", panel);
    transportLabel->setObjectName("TransportLabel");
    QFont mono("Liberation Mono", 8);
    mono.setStyleHint(QFont::Monospace);
    transportLabel->setFont(mono);
    transportLabel->setFixedWidth(QFontMetrics(mono).horizontalAdvance("999.99.9999999") + 6);
    row->addWidget(transportLabel);

    const auto numberField = [panel](const char* name, int low, int high, int value) {
        auto* field = new QSpinBox(panel);
        field->setObjectName(name);
        field->setRange(low, high);
        field->setValue(value);
        field->setButtonSymbols(QAbstractSpinBox::NoButtons);
        field->setAlignment(Qt::AlignRight);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(QString::number(high)) + 14);
        return field;
    };
    tempoField = numberField("TempoField", kTempoMin, kTempoMax, kTempoDefault);
    auto* bpm = new QLabel("&bpm", panel);
    bpm->setBuddy(tempoField);
    row->addWidget(tempoField);
    row->addWidget(bpm);
    numeratorField = numberField("NumeratorField", kTimeSigMin, kTimeSigMax, 4);
    denominatorField = numberField("DenominatorField", kTimeSigMin, kTimeSigMax, 4);
    auto* signature = new QLabel("&TmSig", panel);
    signature->setBuddy(numeratorField);
    auto* slash = new QLabel("&/", panel);
    slash->setBuddy(denominatorField);
    row->addWidget(signature);
    row->addWidget(numeratorField);
    row->addWidget(slash);
    row->addWidget(denominatorField);

    connect(tempoField, &QSpinBox::valueChanged, this, [this](int value) {
        rack.rack().transport().setTempo(value);
        rack.appSettings().tempo = value;
    });
    const auto signatureChanged = [this] {
        rack.rack().transport().setTimeSignature(numeratorField->value(), denominatorField->value());
        rack.appSettings().timeSigNumerator = numeratorField->value();
        rack.appSettings().timeSigDenominator = denominatorField->value();
    };
    connect(numeratorField, &QSpinBox::valueChanged, this, signatureChanged);
    connect(denominatorField, &QSpinBox::valueChanged, this, signatureChanged);

    startButton = new QToolButton(panel);
    startButton->setObjectName("StartButton");
    startButton->setText(QString::fromUtf8("\u25B6"));
    startButton->setToolTip("Start / Pause");
    startButton->setAutoRaise(true);
    connect(startButton, &QToolButton::clicked, this, [this] { rack.rack().transport().pressStartPause(); });
    stopButton = new QToolButton(panel);
    stopButton->setObjectName("StopButton");
    stopButton->setText(QString::fromUtf8("\u25A0"));
    stopButton->setToolTip("Stop");
    stopButton->setAutoRaise(true);
    connect(stopButton, &QToolButton::clicked, this, [this] { rack.rack().transport().pressStop(); });
    row->addWidget(startButton);
    row->addWidget(stopButton);
    beatIndicator = new QLabel(panel);
    beatIndicator->setObjectName("FirstBeat");
    beatIndicator->setFixedSize(10, 10);
    beatIndicator->setToolTip("First beat of the bar");
    row->addWidget(beatIndicator);
    return panel;
}

QWidget* TMainForm::buildPresetPanel() {
    auto* panel = new QWidget(this);
    panel->setObjectName("PresetPanel");
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    presetHeaderPanel = headerPanel(panel, "PresetHeader");
    presetHeaderPanel->setFixedHeight(20);
    auto* header = new QHBoxLayout(presetHeaderPanel);
    header->setContentsMargins(4, 0, 2, 0);
    // The caption says what the list holds ("Presets", "Banks of Presets (fxb)", a typed
    // number while one is entered).
    presetCaption = new QLabel("Presets", presetHeaderPanel);
    presetCaption->setObjectName("PresetCaption");
    QFont bold = presetCaption->font();
    bold.setBold(true);
    presetCaption->setFont(bold);
    presetCaption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    header->addWidget(presetCaption, 1);
    presetModeButton = new QToolButton(presetHeaderPanel);
    presetModeButton->setObjectName("PresetModeButton");
    presetModeButton->setText("...");
    presetModeButton->setToolTip("Preset display: programs, banks or files");
    presetModeButton->setAutoRaise(true);
    connect(presetModeButton, &QToolButton::clicked, this, [this] {
        rack.presets().cyclePresetView();
        refreshPresets();
    });
    header->addWidget(presetModeButton);
    column->addWidget(presetHeaderPanel);

    lp = new QListWidget(panel);
    lp->setObjectName("LP");
    lp->setUniformItemSizes(true);
    connect(lp, &QListWidget::itemDoubleClicked, this, [this] {
        rack.presets().SelectPreset(rack.selected, lp->currentRow(), true);
        refreshPresets();
        refreshSlotList();
    });
    column->addWidget(lp, 1);

    // The parameter panel's header, for when the parameter list is shown here.
    parameterHeader = headerPanel(panel, "ParameterHeader");
    parameterHeader->hide();
    column->addWidget(parameterHeader);
    return panel;
}

// ---- Life ----

void TMainForm::showEvent(QShowEvent* showing) {
    QMainWindow::showEvent(showing);
    if (lifeStage != Stage::Created) return;
    lifeStage = Stage::Shown;
    persist::AppSettings& settings = rack.appSettings();
    tempoField->setValue(std::clamp(settings.tempo, kTempoMin, kTempoMax));
    numeratorField->setValue(std::clamp(settings.timeSigNumerator, kTimeSigMin, kTimeSigMax));
    denominatorField->setValue(std::clamp(settings.timeSigDenominator, kTimeSigMin, kTimeSigMax));
    commands["mnAutoLoad"]->setChecked(settings.autoLoadProject);
    applyColours();
    diag::hookedLog(" shown");
}

void TMainForm::paintEvent(QPaintEvent* painting) {
    QMainWindow::paintEvent(painting);
    if (painted) return;
    painted = true;
    // The devices open and the rack loads once the window is on the screen.
    QTimer::singleShot(0, this, &TMainForm::firstPaint);
}

void TMainForm::firstPaint() {
    if (lifeStage != Stage::Shown && lifeStage != Stage::Created) return;
    app::Session& s = session;
    const std::string driver = s.startAudio(driverName);
    rack.startMidi();
    bool opened = false;
    if (managedSession)
        rack.newProject();
    else
        opened = s.openStartFile(startFile);
    if (!opened && !startFile.empty() && !managedSession) {
        const std::string why =
            platform::isRegularFile(startFile) ? "it is not a file Trelvo can open" : "the file does not exist";
        const std::string line = "cannot open " + startFile + " (" + why + "); starting with " +
                                 (rack.projectName == "untitled" ? "a new rack" : rack.projectName);
        diag::hookedLog(line);
        diag::hookedLogError(line);
    }
    const bool projectPlaced = opened && !startFile.empty() && !rack.loading;
    applyWindowPlacement(projectPlaced);
    rack.setRunning();
    lifeStage = Stage::Painted;
    diag::hookedLog(" painted: " + driver + ", " + std::to_string(rack.rack().numSlots()) + " slots");
    refreshTabs();
    idleTimer->start();
    idleTick();
    restoreCompanions();
    // A project saved with open editors opens them again on its page.
    changePage(rack.pages.current);
    lv->setFocus();
}

void TMainForm::applyWindowPlacement(bool fromProject) {
    const auto& settings = rack.appSettings();
    QRect wanted = fromProject ? QRect(rack.layout.x, rack.layout.y, rack.layout.width, rack.layout.height)
                               : QRect(settings.windowX, settings.windowY, settings.windowW, settings.windowH);
    const bool maximized = fromProject ? rack.layout.maximized : settings.maximized;
    // A place off every screen (a monitor unplugged since) comes back to the primary one.
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().intersects(wanted);
    if (!onScreen && QGuiApplication::primaryScreen() != nullptr)
        wanted.moveTopLeft(QGuiApplication::primaryScreen()->availableGeometry().topLeft() + QPoint(10, 10));
    wanted.setWidth(std::max(wanted.width(), minimumWidth()));
    wanted.setHeight(std::max(wanted.height(), minimumHeight()));
    setGeometry(wanted);
    if (maximized) showMaximized();
    if (fromProject) setParameterPlace(rack.layout.parameterDock);
    // The list's height, once the panel has its own.
    const int split = fromProject ? rack.layout.listSplit : settings.listSplit;
    QTimer::singleShot(0, this, [this, split] {
        const int total = leftSplit->height();
        if (split <= 0 || total <= 0) return;
        const int list = std::clamp(split, 84, std::max(84, total - 66));
        leftSplit->setSizes({list, total - list});
    });
}

void TMainForm::keepWindowPlacement() {
    auto& settings = rack.appSettings();
    const QRect placed = isMaximized() ? normalGeometry() : geometry();
    settings.maximized = isMaximized();
    settings.windowX = placed.x();
    settings.windowY = placed.y();
    settings.windowW = placed.width();
    settings.windowH = placed.height();
    rack.layout.maximized = settings.maximized;
    rack.layout.x = placed.x();
    rack.layout.y = placed.y();
    rack.layout.width = placed.width();
    rack.layout.height = placed.height();
    const QList<int> sizes = leftSplit->sizes();
    if (!sizes.isEmpty()) settings.listSplit = rack.layout.listSplit = sizes.front();
}

bool TMainForm::closeQuery() {
    const auto step = [](int number) {
        diag::hookedLog(QDateTime::currentDateTime().toString("hh:mm:ss.zzz").toStdString() + " closeQuery-" +
                        std::to_string(number));
    };
    // The control surfaces, the status windows and the scanner have nothing open yet; the
    // steps stay in the log so that its order is the same once they do.
    for (int number = 0; number <= 4; ++number) step(number);
    return true;
}

void TMainForm::closeEvent(QCloseEvent* closing) {
    if (lifeStage == Stage::Closing || lifeStage == Stage::Closed) {
        // A second close request while closing is ignored.
        closing->ignore();
        return;
    }
    if (!closeQuery()) {
        closing->ignore();
        return;
    }
    closeSequence();
    closing->accept();
}

void TMainForm::closeSequence() {
    lifeStage = Stage::Closing;
    idleTimer->stop();
    keepWindowPlacement();
    keepCompanions();
    rack.appSettings().autoLoadProject = commands["mnAutoLoad"]->isChecked();
    closeAllEditors();
    session.shutDown(true);
    lifeStage = Stage::Closed;
}

// ---- Idle ----

void TMainForm::idleTick() {
    if (lifeStage != Stage::Painted) return;
    rack.idleTick();
    diag::theLog().drain();
    reconcileEditors();
    reportFaults();
    refreshSlotList();
    refreshPresets();
    parameters->followSelection();
    refreshTransport();
    if (rack.stateLabel2 != shownState) {
        shownState = rack.stateLabel2;
        statusLabel->setText(qs(shownState));
    }
    if (rack.stateText != shownStateText) {
        shownStateText = rack.stateText;
        statusLabel->setToolTip(qs(shownStateText));
    }
    refreshLoadDisplay();
    refreshSurfaceWindow();
    if (!rack.slotLabel.empty()) slotLabel->setText(qs(rack.slotLabel));
    if (rack.caption != lastCaption) {
        lastCaption = rack.caption;
        setWindowTitle(qs(rack.caption) + " - Trelvo");
    }
    if (idleTimer->interval() != rack.idlePeriodMs()) idleTimer->setInterval(rack.idlePeriodMs());
}

void TMainForm::setParameterPlace(char place) {
    const char wanted = place == 'M' || place == 'D' || place == 'm' || place == 'd' ? place : 'd';
    rack.layout.parameterDock = wanted;
    if (wanted == 'D') {
        parameterDock->setWidget(parameters);
        parameters->show();
        parameterDock->show();
    } else {
        if (parameters->parentWidget() != leftSplit) {
            parameterDock->setWidget(nullptr);
            leftSplit->addWidget(parameters);
        }
        parameterDock->hide();
        parameters->setVisible(wanted == 'M');
    }
    command(wanted == 'M' ? "mnParamsMixer" : wanted == 'D' ? "mnParamsDocked" : "mnParamsHide")->setChecked(true);
    parameters->refresh();
}

void TMainForm::exportParameters(bool firstPreset) {
    const int slot = rack.selected;
    if (slot < 0 || slot >= rack.rack().numSlots()) return;
    QString file = (exportFolder.isEmpty() ? QString() : exportFolder + "/") + "*.txt";
    if (!fileDialog(this, file, firstPreset ? "Export 1st preset" : "Export params", kSaveAskOverwrite,
                    "Text files (*.txt)|*.txt", ".txt"))
        return;
    exportFolder = file.section('/', 0, -2);
    host::TVstPlugIn& plugIn = rack.rack().slot(slot);
    std::string error;
    if (!rack::ParameterList::exportParameters(plugIn.hasEffect() ? &plugIn : nullptr, file.toStdString(), firstPreset,
                                               error))
        errorBox(this, "Cannot write " + file + ":\n" + QString::fromStdString(error));
}

void TMainForm::refreshSlotList() {
    model->refresh();
    lv->showSelected(rack.selected);
}

void TMainForm::refreshPresets() {
    presets::PresetList& list = rack.presets();
    if (!entryShown) presetCaption->setText(qs(list.caption));
    const int count = static_cast<int>(list.items.size());
    bool same = shownPresets.size() == list.items.size();
    for (std::size_t i = 0; same && i < shownPresets.size(); ++i) same = shownPresets[i] == list.items[i].text;
    if (!same) {
        lp->clear();
        shownPresets.clear();
        for (const presets::PresetItem& item : list.items) {
            lp->addItem(qs(item.text));
            shownPresets.push_back(item.text);
        }
    }
    if (list.selectedItem >= 0 && list.selectedItem < count && lp->currentRow() != list.selectedItem)
        lp->setCurrentRow(list.selectedItem);
}

void TMainForm::refreshTransport() {
    transportLabel->setText(qs(rack.transportText));
    if (!rack.firstBeatVisible && beatIndicator->isVisible() && !beatTimer->isActive()) {
        beatIndicator->setVisible(false);
        beatTimer->start();
    }
    const bool playing = rack.rack().transport().state() == rack::TransportState::Playing;
    startButton->setText(QString::fromUtf8(playing ? "\u275A\u275A" : "\u25B6"));
}

void TMainForm::refreshTabs() {
    const auto& names = rack.pages.names;
    while (tabs->count() > static_cast<int>(names.size())) tabs->removeTab(tabs->count() - 1);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int index = static_cast<int>(i);
        if (index < tabs->count())
            tabs->setTabText(index, qs(names[i]));
        else
            tabs->addTab(qs(names[i]));
    }
    tabs->setCurrentIndex(rack.pages.current);
    updateMenus();
}

void TMainForm::selectSlot(int slot) {
    if (slot < 0 || slot >= rack.rack().numSlots()) return;
    if (slot != rack.selected || rack.presets().listSlot != slot) rack.select(slot);
    refreshPresets();
    updateMenus();
}

void TMainForm::transportKey(Qt::KeyboardModifiers modifiers) {
    rack::Transport& transport = rack.rack().transport();
    if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier)) {
        // Restart from the beginning, or stop when running.
        if (transport.state() == rack::TransportState::Playing)
            transport.pressStop();
        else
            transport.pressRewind();
        return;
    }
    transport.pressStartPause();
}

// ---- Colours and zones ----

void TMainForm::applyColours() {
    listColours = listColoursOf(palette());
    for (QWidget* header : {listHeader, presetHeaderPanel, parameterHeader}) {
        QPalette colours = header->palette();
        colours.setColor(QPalette::Window, QColor::fromRgb(listColours.mixer));
        header->setPalette(colours);
    }
    QPalette button = startButton->palette();
    button.setColor(QPalette::Button, QColor::fromRgb(listColours.selectedPlugIn));
    startButton->setPalette(button);
    stopButton->setPalette(button);
    beatIndicator->setStyleSheet("background: " + styleColour(listColours.lightGreen) + "; border-radius: 5px;");
    statusLabel->setStyleSheet("color: " + styleColour(listColours.text) + ";");
    clientArea->setBackground(QColor::fromRgb(listColours.background));
    updateZone();
    update();
}

bool TMainForm::event(QEvent* happening) {
    switch (happening->type()) {
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::ThemeChange:
    case QEvent::StyleChange: {
        const bool handled = QMainWindow::event(happening);
        // The theme changed: colours again, and the window repainted twice.
        if (lifeStage != Stage::Created) {
            applyColours();
            repaint();
            update();
        }
        return handled;
    }
    default: return QMainWindow::event(happening);
    }
}

QString TMainForm::zoneText() const {
    switch (focusZone) {
    case Zone::Editor: return "-1-MDI";
    case Zone::PresetList: return "-1-LP";
    case Zone::ParameterList: return "-1-LPm";
    case Zone::SlotList: break;
    }
    return "-1-LV";
}

QWidget* TMainForm::zoneHeader(Zone which) const {
    switch (which) {
    case Zone::SlotList: return listHeader;
    case Zone::PresetList: return presetHeaderPanel;
    case Zone::ParameterList: return parameterHeader;
    case Zone::Editor: break;
    }
    return nullptr;
}

void TMainForm::updateZone() {
    const QWidget* focused = QApplication::focusWidget();
    Zone now = focusZone;
    if (focused != nullptr) {
        if (focused == lv || lv->isAncestorOf(focused))
            now = Zone::SlotList;
        else if (focused == lp)
            now = Zone::PresetList;
        else if (parameters->isAncestorOf(focused))
            now = Zone::ParameterList;
        else if (clientArea->isAncestorOf(focused))
            now = Zone::Editor;
    }
    focusZone = now;
    if (now != Zone::Editor) lastListZone = now;
    if (zoneItem != nullptr) zoneItem->setText(zoneText());
    for (Zone each : {Zone::SlotList, Zone::PresetList, Zone::ParameterList}) {
        QWidget* header = zoneHeader(each);
        QPalette colours = header->palette();
        colours.setColor(QPalette::Window,
                         QColor::fromRgb(each == focusZone ? listColours.selectedPlugIn : listColours.mixer));
        header->setPalette(colours);
    }
}

void TMainForm::toggleFocus() {
    if (focusZone == Zone::Editor) {
        // Back from the editor to the list that had the focus last.
        QWidget* target = lv;
        if (lastListZone == Zone::PresetList && lp->isVisible()) target = lp;
        if (lastListZone == Zone::ParameterList && parameters->isVisible()) target = parameters->view();
        target->setFocus();
        updateZone();
        return;
    }
    // To the selected slot's editor, on its page.
    const int slot = rack.selected;
    if (slot < 0 || slot >= rack.rack().numSlots()) return;
    host::TVstPlugIn& plugIn = rack.rack().slot(slot);
    if (!plugIn.PlugLoaded.load() || !plugIn.EditorShown.load()) return;
    if (editorOf(slot) == nullptr && plugIn.EditorTab >= 0 && plugIn.EditorTab != rack.pages.current)
        changePage(plugIn.EditorTab);
    TVstEdt* editor = editorOf(slot);
    if (editor == nullptr) return;
    editor->raise();
    clientArea->setActiveSubWindow(editor);
    editor->setFocus();
    focusZone = Zone::Editor;
    updateZone();
}

} // namespace trelvo::ui
