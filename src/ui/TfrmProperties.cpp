// The properties dialog: routes, ports, preset behaviour and plug-in facts of a slot, or
// the virtual MIDI ports.

#include "ui/TfrmProperties.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "session/RackController.h"
#include "ui/CommonDialogs.h"

namespace trelvo::ui {

using rack::PropertiesEditor;

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QComboBox* comboOf(const std::vector<std::string>& items, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    for (const std::string& item : items) combo->addItem(qs(item));
    return combo;
}

} // namespace

TfrmProperties::TfrmProperties(rack::RackController& controller, int slot, PropertiesEditor::Mode mode, QWidget* parent)
    : QDialog(parent), model(std::make_unique<PropertiesEditor>(controller, slot, mode)), rack(controller) {
    setObjectName("frmProperties");
    setWindowTitle("Properties");

    auto* left = new QVBoxLayout;
    pagesHeading = new QLabel(qs(model->pagesHeading()), this);
    lvPages = new QListWidget(this);
    lvPages->setObjectName("lvPages");
    lvPages->setMaximumWidth(150);
    pagesHeading->setBuddy(lvPages);
    left->addWidget(pagesHeading);
    left->addWidget(lvPages);

    stack = new QStackedWidget(this);
    stack->addWidget(buildMidiPage());
    if (mode == PropertiesEditor::kSlotMode) {
        stack->addWidget(buildDetailsPage());
        stack->addWidget(buildInfoPage());
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("buttons");
    connect(buttons, &QDialogButtonBox::accepted, this, &TfrmProperties::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TfrmProperties::reject);

    auto* body = new QHBoxLayout;
    body->addLayout(left);
    body->addWidget(stack, 1);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(body, 1);
    outer->addWidget(buttons);

    connect(lvPages, &QListWidget::currentRowChanged, this, [this](int row) {
        if (showing || row < 0) return;
        if (model->mode() == PropertiesEditor::kVirtualPortMode) {
            model->selectPort(row);
            showRoute();
        } else {
            if (row == 0) showRoute(); // the Details page may have changed the output choices
            stack->setCurrentIndex(row);
        }
    });
    auto* f6 = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(f6, &QShortcut::activated, lvPages, [this] { lvPages->setFocus(); });

    refresh();
    if (mode == PropertiesEditor::kSlotMode) showDetails();
}

TfrmProperties::~TfrmProperties() = default;

// ---- MIDI page ----

QWidget* TfrmProperties::buildMidiPage() {
    auto* page = new QWidget(this);
    page->setObjectName("pageMIDI");
    auto* layout = new QVBoxLayout(page);

    auto* tabsLine = new QHBoxLayout;
    routeTabs = new QTabBar(page);
    routeTabs->setObjectName("tsMIDIin");
    routeTabs->setExpanding(false);
    routeTabs->setContextMenuPolicy(Qt::CustomContextMenu);
    routeButton = new QToolButton(page);
    routeButton->setObjectName("btnInPorts");
    routeButton->setText("inPorts");
    routeButton->setPopupMode(QToolButton::InstantPopup);
    buildRouteMenu();
    routeButton->setMenu(routeMenu);
    tabsLine->addWidget(routeTabs, 1);
    tabsLine->addWidget(routeButton);
    layout->addLayout(tabsLine);
    connect(routeTabs, &QTabBar::currentChanged, this, [this](int index) {
        if (showing || index < 0) return;
        model->selectRoute(index);
        showRoute();
    });
    connect(routeTabs, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { routeMenu->popup(routeTabs->mapToGlobal(at)); });

    auto* ports = new QGridLayout;
    auto* inLabel = new QLabel("Port&IN", page);
    cbMIDIin = new QComboBox(page);
    cbMIDIin->setObjectName("cbMIDIin");
    cbMIDIin->setMinimumContentsLength(24);
    inLabel->setBuddy(cbMIDIin);
    offline = new QLabel(PropertiesEditor::kNotOnline, page);
    offline->setObjectName("lbOffline");
    offline->setStyleSheet("color: #d04040;");
    auto* outLabel = new QLabel("Port&OUT", page);
    cbMIDIout = new QComboBox(page);
    cbMIDIout->setObjectName("cbMIDIout");
    cbMIDIout->setMinimumContentsLength(24);
    outLabel->setBuddy(cbMIDIout);
    ports->addWidget(inLabel, 0, 0);
    ports->addWidget(cbMIDIin, 0, 1);
    ports->addWidget(offline, 0, 2);
    ports->addWidget(outLabel, 1, 0);
    ports->addWidget(cbMIDIout, 1, 1);
    if (model->mode() == PropertiesEditor::kSlotMode) {
        ckIsVport = new QCheckBox("Is &vPORT", page);
        ckIsVport->setObjectName("ckIsVport");
        ports->addWidget(ckIsVport, 1, 2);
        connect(ckIsVport, &QCheckBox::toggled, this, [this](bool on) { model->details.isMidiVport = on; });
    }
    if (model->mode() == PropertiesEditor::kVirtualPortMode) {
        // The port "DEFAULT" routes read; a surface's port carries no notes to play.
        ckDefault = new QCheckBox("De&fault port", page);
        ckDefault->setObjectName("ckDefault");
        ports->addWidget(ckDefault, 1, 2);
        connect(ckDefault, &QCheckBox::clicked, this, [this] {
            model->makeDefaultPort();
            showRoute();
        });
    }
    ports->setColumnStretch(2, 1);
    layout->addLayout(ports);
    connect(cbMIDIin, &QComboBox::activated, this, [this](int position) {
        const int entry = cbMIDIin->itemData(position).toInt();
        if (showing || entry < 0) return;
        model->setInPort(entry);
        setWindowTitle(qs(model->portNote));
        showRoute();
    });
    connect(cbMIDIout, &QComboBox::activated, this, [this](int position) {
        if (!showing) model->setOutPort(position);
    });

    auto* filters = new QHBoxLayout;
    auto* rows = new QGridLayout;
    rows->setVerticalSpacing(1);
    auto* header = new QLabel("  IN-channel-OUT   lo-note-hi    lo-vel-hi     trsp      ", page);
    header->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    rows->addWidget(header, 0, 0, 1, 8);
    for (int k = 0; k < 16; ++k) {
        auto* toggle = new QToolButton(page);
        toggle->setObjectName(QString("btnRow%1").arg(k + 1));
        toggle->setText(QString("<-%1->").arg(k + 1));
        toggle->setCheckable(true);
        toggle->setMinimumWidth(44);
        rowButtons[static_cast<std::size_t>(k)] = toggle;
        rows->addWidget(toggle, k + 1, 0);
        connect(toggle, &QToolButton::toggled, this, [this, k](bool on) {
            if (!showing) model->setRowEnabled(k, on);
        });
        static const char* const names[] = {"spI", "spO", "spS", "spE", "spL", "spH", "spT"};
        for (int c = 0; c < PropertiesEditor::kNumColumns; ++c) {
            const auto column = static_cast<PropertiesEditor::Column>(c);
            auto* spin = new QSpinBox(page);
            spin->setObjectName(QString("%1%2").arg(names[c]).arg(k + 1));
            const auto [lowest, highest] = PropertiesEditor::range(column);
            spin->setRange(lowest, highest);
            spin->setAlignment(Qt::AlignRight);
            spin->setKeyboardTracking(false);
            spins[static_cast<std::size_t>(k)][static_cast<std::size_t>(c)] = spin;
            rows->addWidget(spin, k + 1, c + 1);
            connect(spin, &QSpinBox::valueChanged, this, [this, k, column](int value) {
                if (!showing) model->setValue(k, column, value);
            });
        }
    }
    filters->addLayout(rows);

    auto* types = new QVBoxLayout;
    types->setSpacing(0);
    const auto& captions = PropertiesEditor::typeCaptions();
    for (int t = 0; t < midi::kNumMessageTypes; ++t) {
        auto* box = new QCheckBox(captions[static_cast<std::size_t>(t)], page);
        box->setObjectName(QString("ckType%1").arg(t));
        typeBoxes[static_cast<std::size_t>(t)] = box;
        types->addWidget(box);
        connect(box, &QCheckBox::toggled, this, [this, t](bool on) {
            if (showing) return;
            model->setType(t, on);
            if (t == midi::kControlChange) showRoute();
        });
    }
    types->addStretch(1);
    filters->addLayout(types);

    auto* controllers = new QVBoxLayout;
    lbCC = new QListWidget(page);
    lbCC->setObjectName("lbCC");
    lbCC->setSelectionMode(QAbstractItemView::MultiSelection);
    lbCC->setMinimumWidth(90);
    for (int n = 0; n < 128; ++n) lbCC->addItem(qs(PropertiesEditor::controllerCaption(n)));
    connect(lbCC, &QListWidget::itemSelectionChanged, this, [this] {
        if (showing) return;
        for (int n = 0; n < 128; ++n) model->setController(n, lbCC->item(n)->isSelected());
    });
    auto* all = new QPushButton("&All", page);
    auto* none = new QPushButton("&None", page);
    connect(all, &QPushButton::clicked, this, [this] {
        model->setAllControllers(true);
        showRoute();
    });
    connect(none, &QPushButton::clicked, this, [this] {
        model->setAllControllers(false);
        showRoute();
    });
    auto* allNone = new QHBoxLayout;
    allNone->addWidget(all);
    allNone->addWidget(none);
    controllers->addWidget(lbCC, 1);
    controllers->addLayout(allNone);
    filters->addLayout(controllers);
    layout->addLayout(filters, 1);
    return page;
}

void TfrmProperties::buildRouteMenu() {
    routeMenu = new QMenu(this);
    routeMenu->setObjectName("mnRoutes");
    const auto add = [this](QMenu* menu, const char* name, const char* text, auto action) {
        QAction* item = menu->addAction(text);
        item->setObjectName(name);
        connect(item, &QAction::triggered, this, action);
        return item;
    };
    add(routeMenu, "mnAddInPort", "&Add inPort", [this] {
        // The new route reads the port the combo shows, or none when it shows no port.
        const int entry = cbMIDIin->currentData().toInt();
        const std::vector<std::string> entries = model->inPortEntries();
        const std::string port = entry >= 0 && entry < static_cast<int>(entries.size())
                                     ? entries[static_cast<std::size_t>(entry)]
                                     : std::string();
        if (model->addRoute(port)) showRoute();
    });
    add(routeMenu, "mnDeleteInPort", "&Delete inPort", [this] {
        if (model->deleteRoute()) showRoute();
    });
    add(routeMenu, "mnNextInPort", "&Next inPort", [this] {
        model->nextRoute();
        showRoute();
    });
    add(routeMenu, "mnPrevInPort", "&Prev inPort", [this] {
        model->previousRoute();
        showRoute();
    });
    if (model->mode() != PropertiesEditor::kVirtualPortMode) return;
    routeMenu->addSeparator();
    QMenu* addPort = routeMenu->addMenu("&1 Add vPort");
    addPort->setObjectName("mnAddVport");
    add(addPort, "mnAddStdVport", "&std vPort", [this] { addVirtualPort("new"); });
    add(addPort, "mnAddMcuVport", "&MCU vPort", [this] { addVirtualPort("MCU"); });
    add(addPort, "mnAddLcuVport", "&LCU vPort", [this] { addVirtualPort("LCU"); });
    add(addPort, "mnAddBcruVport", "&BCRU vPort", [this] { addVirtualPort("BCRU"); });
    add(routeMenu, "mnDelVport", "&2 Del vPort", [this] { deleteVirtualPort(); });
    add(routeMenu, "mnRenameVport", "&Rename vPort", [this] { renameVirtualPort(); });
}

void TfrmProperties::refresh() {
    showPages();
    showRoute();
}

void TfrmProperties::showPages() {
    showing = true;
    lvPages->clear();
    for (const std::string& page : model->pages()) lvPages->addItem(qs(page));
    lvPages->setCurrentRow(model->mode() == PropertiesEditor::kVirtualPortMode ? model->currentPort()
                                                                               : stack->currentIndex());
    showing = false;
}

void TfrmProperties::showRoute() {
    showing = true;
    while (routeTabs->count() > 0) routeTabs->removeTab(0);
    for (const std::string& tab : model->routeTabs()) routeTabs->addTab(qs(tab));
    routeTabs->setCurrentIndex(model->currentRoute());
    // The bar was laid out while it had no tab; it keeps the height its tabs need.
    routeTabs->setMinimumHeight(routeTabs->sizeHint().height());

    cbMIDIin->clear();
    // Each choice keeps its place among the editor's entries; a shown-only text has -1.
    const std::vector<std::string> entries = model->inPortEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) cbMIDIin->addItem(qs(entries[i]), static_cast<int>(i));
    const QString inText = qs(model->inPortText());
    int position = cbMIDIin->findText(inText);
    if (position < 0) {
        // An unset route, or a port that is not there now: shown, not offered.
        cbMIDIin->insertItem(0, inText, -1);
        position = 0;
    }
    cbMIDIin->setCurrentIndex(position);
    offline->setVisible(!model->inPortOnline());

    cbMIDIout->clear();
    for (const std::string& entry : model->outPortEntries()) cbMIDIout->addItem(qs(entry));
    const int out = model->outPortPosition();
    cbMIDIout->setCurrentIndex(std::max(out, 0));
    if (ckIsVport != nullptr) ckIsVport->setChecked(model->details.isMidiVport);
    if (ckDefault != nullptr) {
        const bool surface =
            midi::isSurfacePortName(model->virtualPorts()[static_cast<std::size_t>(model->currentPort())].name);
        ckDefault->setChecked(model->isDefaultPort());
        // The default port stays one until another is made the default.
        ckDefault->setEnabled(!model->isDefaultPort() && !surface);
    }

    for (int k = 0; k < 16; ++k) {
        rowButtons[static_cast<std::size_t>(k)]->setChecked(model->rowEnabled(k));
        for (int c = 0; c < PropertiesEditor::kNumColumns; ++c)
            spins[static_cast<std::size_t>(k)][static_cast<std::size_t>(c)]->setValue(
                model->value(k, static_cast<PropertiesEditor::Column>(c)));
    }
    const midi::MidiRoute& route = model->route();
    for (int t = 0; t < midi::kNumMessageTypes; ++t)
        typeBoxes[static_cast<std::size_t>(t)]->setChecked(route.typePass[static_cast<std::size_t>(t)] != 0);
    for (int n = 0; n < 128; ++n) lbCC->item(n)->setSelected(route.ccPass[static_cast<std::size_t>(n)] != 0);
    for (QAction* action : routeMenu->actions()) {
        if (action->objectName() == "mnAddInPort") action->setEnabled(model->routes().count < 4);
        if (action->objectName() == "mnDeleteInPort") action->setEnabled(model->routes().count > 1);
        if (action->objectName() == "mnDelVport") action->setEnabled(model->pages().size() > 1);
    }
    showing = false;
}

// ---- Virtual ports ----

void TfrmProperties::addVirtualPort(const char* kind) {
    const std::string why = model->addVirtualPort(kind);
    if (!why.empty()) {
        QMessageBox::warning(this, "Add vPort", qs(why));
        return;
    }
    refresh();
}

void TfrmProperties::renameVirtualPort() {
    QString name = qs(model->pages()[static_cast<std::size_t>(model->currentPort())]);
    if (!inputBox(this, "Rename Virtual Port", "New port-name:", name)) return;
    const std::string why = model->renameVirtualPort(name.toStdString());
    if (!why.empty()) {
        QMessageBox::warning(this, "Rename Virtual Port", qs(why));
        return;
    }
    refresh();
}

void TfrmProperties::deleteVirtualPort() {
    if (model->pages().size() <= 1) return;
    QMessageBox box(QMessageBox::Question, "Delete Virtual port ?", qs(model->deleteQuestion()),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName("deleteVport");
    if (box.exec() != QMessageBox::Ok) return;
    if (model->deleteVirtualPort()) refresh();
}

// ---- Details page ----

QWidget* TfrmProperties::buildDetailsPage() {
    auto* page = new QWidget(this);
    page->setObjectName("pageDetails");
    auto* form = new QFormLayout(page);
    const auto labelled = [form, page](const char* caption, QWidget* field) {
        auto* label = new QLabel(caption, page);
        label->setBuddy(field);
        form->addRow(label, field);
    };
    cbPCkeys = comboOf(PropertiesEditor::pcChoiceNames(), page);
    cbPCkeys->setObjectName("cbPCkeys");
    labelled("PC&keys", cbPCkeys);
    cbPCmw = comboOf(PropertiesEditor::pcChoiceNames(), page);
    cbPCmw->setObjectName("cbPCmw");
    labelled("PCmo&useWheel", cbPCmw);
    cbPresetMode = comboOf(PropertiesEditor::presetDisplayNames(), page);
    cbPresetMode->setObjectName("cbPresetMode");
    labelled("Preset Display + Set &Mode", cbPresetMode);
    ckChgFXP_MidiPC = new QCheckBox("&chgPreset on MIDI PrgChg", page);
    ckChgFXP_MidiPC->setObjectName("ckChgFXP_MidiPC");
    form->addRow(QString(), ckChgFXP_MidiPC);
    const std::vector<std::string> fileModes(PropertiesEditor::presetDisplayNames().begin(),
                                             PropertiesEditor::presetDisplayNames().begin() + 3);
    cbFXBPmode = comboOf(fileModes, page);
    cbFXBPmode->setObjectName("cbFXBPmode");
    labelled("F&XB/FXPmode", cbFXBPmode);
    cbMIDImode = comboOf(PropertiesEditor::midiModeNames(), page);
    cbMIDImode->setObjectName("cbMIDImode");
    labelled("MIDIm&ode", cbMIDImode);
    ckMIDI_1_16 = new QCheckBox("MIDI PgmCh &1...128", page);
    ckMIDI_1_16->setObjectName("ckMIDI_1_16");
    form->addRow(QString(), ckMIDI_1_16);
    cbMIDIchannels = new QComboBox(page);
    cbMIDIchannels->setObjectName("cbMIDIchannels");
    for (int n = 1; n <= 16; ++n) cbMIDIchannels->addItem(QString::number(n));
    labelled("MIDIchannels", cbMIDIchannels);
    cbUseFXBP = comboOf(PropertiesEditor::useFxbFxpNames(), page);
    cbUseFXBP->setObjectName("cbUseFXBP");
    labelled("&useFXB/FXP", cbUseFXBP);
    ckCheckVstId = new QCheckBox("check Vst&ID on load FXP/FXB", page);
    ckCheckVstId->setObjectName("ckCheckVstId");
    edVstIds = new QLineEdit(page);
    edVstIds->setObjectName("edVstIds");
    edVstIds->setPlaceholderText("abcd, $0000ABCD");
    form->addRow(ckCheckVstId, edVstIds);
    connect(ckCheckVstId, &QCheckBox::toggled, edVstIds, &QWidget::setEnabled);

    const auto pathRow = [this, page, form](const char* caption, const char* name, QLineEdit*& field,
                                            std::function<void()> pick) {
        field = new QLineEdit(page);
        field->setObjectName(name);
        auto* button = new QToolButton(page);
        button->setText("...");
        connect(button, &QToolButton::clicked, this, pick);
        auto* line = new QHBoxLayout;
        line->addWidget(field, 1);
        line->addWidget(button);
        auto* label = new QLabel(caption, page);
        label->setBuddy(field);
        form->addRow(label, line);
    };
    pathRow("FXBfolder", "edFXBfolder", edFXBfolder, [this] { pickFolder(edFXBfolder, "~FXB", edFXBfolder->text()); });
    pathRow("FXBfile", "edFXBfile", edFXBfile,
            [this] { pickFile(edFXBfile, "FXB file:", "Preset files (*.fxb)|*.fxb|", "fxb"); });
    pathRow("FXPfolder", "edFXPfolder", edFXPfolder, [this] { pickFolder(edFXPfolder, "~FXP", edFXPfolder->text()); });
    pathRow("FXPfile", "edFXPfile", edFXPfile,
            [this] { pickFile(edFXPfile, "FXP file:", "Preset files (*.fxp)|*.fxp|", "fxp"); });
    pathRow("FXPbnk", "edFXPbnk", edFXPbnk, [this] {
        QString result;
        if (folderPicker(this, "~FXPbank", edFXPfolder->text(), result)) {
            // The bank is a folder inside the FXP folder: its name is kept.
            while (result.endsWith('/')) result.chop(1);
            edFXPbnk->setText(result.section('/', -1));
        }
    });
    pathRow("&DLLtemplate", "edDLLtemplate", edDLLtemplate,
            [this] { pickFile(edDLLtemplate, "vprj file:", "DLLtemplate files (*.vprj)|*.vprj|", "vprj"); });
    return page;
}

void TfrmProperties::pickFolder(QLineEdit* field, const QString& prompt, const QString& start) {
    QString result;
    if (!folderPicker(this, prompt, start, result)) return;
    while (result.size() > 1 && result.endsWith('/')) result.chop(1);
    field->setText(result);
}

void TfrmProperties::pickFile(QLineEdit* field, const QString& title, const QString& filter, const QString& extension) {
    QString name = field->text();
    if (!fileDialog(this, name, title, kOpenExistingFile, filter, extension)) return;
    // Preset files are named inside their folder; the template by its whole path.
    field->setText(extension == "vprj" ? name : name.section('/', -1));
}

void TfrmProperties::showDetails() {
    if (cbPCkeys == nullptr) return;
    const PropertiesEditor::Details& d = model->details;
    cbPCkeys->setCurrentIndex(d.pcKeys);
    cbPCmw->setCurrentIndex(d.pcMouseWheel);
    cbPresetMode->setCurrentIndex(d.presetDisplay);
    ckChgFXP_MidiPC->setChecked(d.chgPresetOnMidiPc);
    cbFXBPmode->setCurrentIndex(d.fileMode);
    cbMIDImode->setCurrentIndex(d.midiMode);
    ckMIDI_1_16->setChecked(d.programsFromOne);
    cbMIDIchannels->setCurrentIndex(d.midiChannels - 1);
    cbUseFXBP->setCurrentIndex(d.useFxbFxp);
    ckCheckVstId->setChecked(d.checkVstIds);
    edVstIds->setText(qs(d.vstIds));
    edVstIds->setEnabled(d.checkVstIds);
    edFXBfolder->setText(qs(d.fxbFolder));
    edFXBfile->setText(qs(d.fxbFile));
    edFXPfolder->setText(qs(d.fxpFolder));
    edFXPfile->setText(qs(d.fxpFile));
    edFXPbnk->setText(qs(d.fxpBank));
    edDLLtemplate->setText(qs(d.dllTemplate));
    if (ckIsMIDIplugin != nullptr) ckIsMIDIplugin->setChecked(d.isMidiPlugin);
}

void TfrmProperties::storeDetails() {
    if (cbPCkeys == nullptr) return;
    PropertiesEditor::Details& d = model->details;
    d.pcKeys = cbPCkeys->currentIndex();
    d.pcMouseWheel = cbPCmw->currentIndex();
    d.presetDisplay = cbPresetMode->currentIndex();
    d.chgPresetOnMidiPc = ckChgFXP_MidiPC->isChecked();
    d.fileMode = cbFXBPmode->currentIndex(); // -1 when the slot's letter is none of the three: kept
    d.midiMode = cbMIDImode->currentIndex();
    d.programsFromOne = ckMIDI_1_16->isChecked();
    d.midiChannels = cbMIDIchannels->currentIndex() + 1;
    d.useFxbFxp = cbUseFXBP->currentIndex();
    d.checkVstIds = ckCheckVstId->isChecked();
    d.vstIds = edVstIds->text().toStdString();
    d.fxbFolder = edFXBfolder->text().toStdString();
    d.fxbFile = edFXBfile->text().toStdString();
    d.fxpFolder = edFXPfolder->text().toStdString();
    d.fxpFile = edFXPfile->text().toStdString();
    d.fxpBank = edFXPbnk->text().toStdString();
    d.dllTemplate = edDLLtemplate->text().toStdString();
    if (ckIsMIDIplugin != nullptr) d.isMidiPlugin = ckIsMIDIplugin->isChecked();
}

// ---- Info page ----

QWidget* TfrmProperties::buildInfoPage() {
    auto* page = new QWidget(this);
    page->setObjectName("pageInfo");
    auto* layout = new QVBoxLayout(page);
    infoText = new QPlainTextEdit(page);
    infoText->setObjectName("lbInfo");
    infoText->setReadOnly(true);
    infoText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QString text;
    for (const std::string& line : model->infoLines()) text += qs(line) + "\n";
    infoText->setPlainText(text);
    ckIsMIDIplugin = new QCheckBox("is a MIDI plugin", page);
    ckIsMIDIplugin->setObjectName("ckIsMIDIplugin");
    layout->addWidget(infoText, 1);
    layout->addWidget(ckIsMIDIplugin);
    return page;
}

// ---- OK ----

void TfrmProperties::accept() {
    storeDetails();
    const std::string why = model->problem();
    if (!why.empty()) {
        QMessageBox::warning(this, "Properties", qs(why));
        return;
    }
    model->apply();
    QDialog::accept();
}

} // namespace trelvo::ui
