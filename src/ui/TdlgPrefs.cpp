#include "ui/TdlgPrefs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "audio/TASIOHost.h"
#include "diag/OpcodeLevels.h"
#include "session/RackController.h"
#include "ui/CommonDialogs.h"
#include "vst/VstNames.h"

namespace trelvo::ui {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

const QString kAbsent = QStringLiteral(" (not present)");

QTreeWidget* table(QWidget* parent, const QStringList& columns, const QString& name) {
    auto* tree = new QTreeWidget(parent);
    tree->setObjectName(name);
    tree->setHeaderLabels(columns);
    tree->setRootIsDecorated(false);
    tree->setUniformRowHeights(true);
    tree->setAllColumnsShowFocus(true);
    tree->header()->setStretchLastSection(true);
    return tree;
}

/// F2 on a list, as the hints under the lists say.
void onF2(QTreeWidget* tree, std::function<void()> action) {
    auto* key = new QShortcut(QKeySequence(Qt::Key_F2), tree, nullptr, nullptr, Qt::WidgetShortcut);
    QObject::connect(key, &QShortcut::activated, tree, std::move(action));
    QObject::connect(tree, &QTreeWidget::itemDoubleClicked, tree, [action] { action(); });
}

QLabel* hint(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setEnabled(false); // the palette's quieter text
    return label;
}

QString levelText(std::int32_t level) {
    return qs(diag::levelText(level));
}

} // namespace

TdlgPrefs::TdlgPrefs(rack::RackController& controller, QWidget* owner)
    : QDialog(owner), rack(controller), prefs(std::make_unique<rack::PreferencesEditor>(controller)) {
    setObjectName("dlgPrefs");
    setWindowTitle(applicationTitle() + " - Preferences");
    auto* layout = new QVBoxLayout(this);
    auto* body = new QHBoxLayout;
    pageList = new QListWidget(this);
    pageList->setObjectName("PageList");
    pageList->setFixedWidth(120);
    pages = new QStackedWidget(this);
    body->addWidget(pageList);
    body->addWidget(pages, 1);
    layout->addLayout(body, 1);

    const std::pair<const char*, QWidget*> built[] = {
        {"General", buildGeneral()},      {"Midi Inputs", buildMidi(true)}, {"MIDI Outputs", buildMidi(false)},
        {"ASIO", buildDriver()},          {"VST Folders", buildFolders()},  {"Debug", buildDebug()},
        {"RemControl", new QWidget(this)}};
    for (const auto& [caption, page] : built) {
        auto* item = new QListWidgetItem(caption, pageList);
        pages->addWidget(page);
        if (QString(caption) == "RemControl") {
            item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
            page->setEnabled(false);
        }
    }
    connect(pageList, &QListWidget::currentRowChanged, pages, &QStackedWidget::setCurrentIndex);
    pageList->setCurrentRow(0);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &TdlgPrefs::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(760, 520);
}

TdlgPrefs::~TdlgPrefs() = default;

void TdlgPrefs::showPage(const QString& caption) {
    for (int row = 0; row < pageList->count(); ++row)
        if (pageList->item(row)->text() == caption) pageList->setCurrentRow(row);
}

// ---- Pages ----

QWidget* TdlgPrefs::buildGeneral() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    auto* switches = new QHBoxLayout;
    const auto box = [page, switches](const char* text, const char* name, bool checked) {
        auto* check = new QCheckBox(text, page);
        check->setObjectName(name);
        check->setChecked(checked);
        switches->addWidget(check);
        return check;
    };
    statusBar = box("StatusBar", "cbStatusBar", prefs->statusBar);
    allCpus = box("&Use all CPUs", "cbUseAllCpus", prefs->useAllCpus);
    isolateAfterFault = box("&Isolate after a fault", "cbIsolateAfterFault", prefs->isolateAfterFault);
    isolateAfterFault->setToolTip("A plug-in that crashes inside Trelvo is loaded again in a process of its own");
    debug = box("&1 Debug", "cbDebug", prefs->debug);
    writeLog = box("&2 WLog", "cbWrLog", prefs->writeLog);
    errorLog = box("&3 ErrLog", "cbErrLog", prefs->errorLog);
    switches->addStretch(1);
    layout->addLayout(switches);

    auto* group = new QGroupBox("Associated File E&xtensions", page);
    auto* groupLayout = new QGridLayout(group);
    const char* const captions[] = {"DLL  VST plugins", "VPRJ  project files", "VPRF  VSTprofiles", "DL  VST plugins"};
    const char* const names[] = {"cbExtDll", "cbExtVprj", "cbExtVprf", "cbExtDl"};
    for (int b = 0; b < rack::PreferencesEditor::kAssociations; ++b) {
        auto* check = new QCheckBox(captions[b], group);
        check->setObjectName(names[b]);
        check->setChecked(prefs->associations[static_cast<std::size_t>(b)]);
        connect(check, &QCheckBox::clicked, this, [this, b](bool on) { prefs->clickAssociation(b, on); });
        groupLayout->addWidget(check, b / 2, b % 2);
        associations[static_cast<std::size_t>(b)] = check;
    }
    associations[rack::PreferencesEditor::kPlugins]->setToolTip(
        "Offers Trelvo in the desktop's \"Open with\" list of plug-in libraries (.so); never their default program.");
    associations[rack::PreferencesEditor::kPlugins2]->setEnabled(false);
    associations[rack::PreferencesEditor::kPlugins2]->setToolTip("Linux has no .dl plug-ins.");
    layout->addWidget(group);

    auto* form = new QGridLayout;
    const std::pair<const char*, std::string*> fields[] = {
        {"&Text Editor Path", &prefs->textEditor},       {"Pro&jects Folder", &prefs->projectsFolder},
        {"VSTprofiles &Folder", &prefs->profilesFolder}, {"Instr. &Definitions Folder", &prefs->instrDefFolder},
        {"VSTimages Fo&lder", &prefs->imagesFolder},     {"Templates Fol&der", &prefs->templatesFolder}};
    for (int row = 0; row < 6; ++row) {
        auto* label = new QLabel(fields[row].first, page);
        auto* edit = new QLineEdit(qs(*fields[row].second), page);
        edit->setObjectName(QString("edFolder%1").arg(row));
        label->setBuddy(edit);
        auto* browse = new QPushButton("...", page);
        browse->setFixedWidth(32);
        connect(browse, &QPushButton::clicked, this, [this, edit, row, caption = QString(fields[row].first)] {
            QString chosen = edit->text();
            if (row == 0) {
                if (fileDialog(this, chosen, "Text Editor", kOpenExistingFile, "programs (*)|*", ""))
                    edit->setText(chosen);
                return;
            }
            QString result;
            if (folderPicker(this, "~" + QString(caption).remove('&'), chosen, result)) {
                while (result.endsWith('/') && result.size() > 1) result.chop(1);
                edit->setText(result);
            }
        });
        form->addWidget(label, row, 0);
        form->addWidget(edit, row, 1);
        form->addWidget(browse, row, 2);
        folders[static_cast<std::size_t>(row)] = edit;
    }
    layout->addLayout(form);
    layout->addStretch(1);
    return page;
}

QWidget* TdlgPrefs::buildMidi(bool input) {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    const auto side = static_cast<std::size_t>(input ? 0 : 1);
    const QString deviceColumn = input ? "MIDI input device" : "MIDI output device";
    devices[side] = table(page, {"Port Name", deviceColumn}, input ? "lvMidiIn" : "lvMidiOut");
    devices[side]->header()->resizeSection(0, 160);
    layout->addWidget(devices[side], 2);
    layout->addWidget(new QLabel("Devices not present now that keep their port names:", page));
    absent[side] = table(page, {"Port Name", deviceColumn}, input ? "lvAbsentIn" : "lvAbsentOut");
    absent[side]->header()->resizeSection(0, 160);
    layout->addWidget(absent[side], 1);
    auto* row = new QHBoxLayout;
    auto* remove = new QPushButton("&Remove", page);
    connect(remove, &QPushButton::clicked, this, [this, input, side] {
        if (prefs->removeAbsent(input, absent[side]->indexOfTopLevelItem(absent[side]->currentItem()))) fillMidi(input);
    });
    row->addWidget(remove);
    if (input) {
        auto* label = new QLabel("&1 DEFAULT MIDI input port", page);
        defaultPort = new QComboBox(page);
        defaultPort->setObjectName("cbDefaultPort");
        label->setBuddy(defaultPort);
        for (const std::string& name : prefs->defaultPortChoices()) defaultPort->addItem(qs(name));
        // A default the list does not hold stays the choice until the user picks another.
        if (defaultPort->findText(qs(prefs->defaultPort)) < 0) defaultPort->insertItem(0, qs(prefs->defaultPort));
        defaultPort->setCurrentText(qs(prefs->defaultPort));
        row->addSpacing(16);
        row->addWidget(label);
        row->addWidget(defaultPort);
    }
    row->addStretch(1);
    // The delay from a key to its sound: the driver's output latency.
    const std::string line = prefs->informationLine();
    const std::size_t at = line.find("Delay: ");
    row->addWidget(new QLabel(
        "Delay (ms): " + (at == std::string::npos ? QString("-") : qs(line.substr(at + 7))).remove("ms"), page));
    layout->addLayout(row);
    layout->addWidget(
        hint(page, input ? "Select device, then press F2 to enter PortName. Don't use \"{\",\"}\" or \"(\" in "
                           "port names"
                         : "Select device, then press F2 to enter PortName. Don't use \"{\",\"}\" or \"(\" in "
                           "port names"));
    onF2(devices[side], [this, input] { renamePort(input); });
    fillMidi(input);
    return page;
}

void TdlgPrefs::fillMidi(bool input) {
    const auto side = static_cast<std::size_t>(input ? 0 : 1);
    const int current = devices[side]->indexOfTopLevelItem(devices[side]->currentItem());
    devices[side]->clear();
    for (const auto& row : input ? prefs->inputs : prefs->outputs)
        new QTreeWidgetItem(devices[side], {qs(row.port), qs(row.device)});
    if (current >= 0 && current < devices[side]->topLevelItemCount())
        devices[side]->setCurrentItem(devices[side]->topLevelItem(current));
    absent[side]->clear();
    for (const auto& row : input ? prefs->absentInputs : prefs->absentOutputs)
        new QTreeWidgetItem(absent[side], {qs(row.port), qs(row.device)});
}

void TdlgPrefs::renamePort(bool input) {
    const auto side = static_cast<std::size_t>(input ? 0 : 1);
    const int row = devices[side]->indexOfTopLevelItem(devices[side]->currentItem());
    if (row < 0) return;
    QString name = devices[side]->currentItem()->text(0);
    if (!inputBox(this, "PortName", "Port name of " + devices[side]->currentItem()->text(1) + ":", name)) return;
    const std::string why = prefs->renamePort(input, row, name.toStdString());
    if (!why.empty()) {
        QMessageBox::warning(this, "PortName", qs(why));
        return;
    }
    fillMidi(input);
}

QWidget* TdlgPrefs::buildDriver() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    auto* top = new QHBoxLayout;
    auto* label = new QLabel("&Driver:", page);
    driver = new QComboBox(page);
    driver->setObjectName("cbDriver");
    label->setBuddy(driver);
    for (const std::string& name : prefs->drivers) driver->addItem(qs(name));
    // The chosen driver stays chosen while it is away (a JACK server not started yet).
    if (!prefs->driver.empty() && driver->findText(qs(prefs->driver)) < 0)
        driver->insertItem(0, qs(prefs->driver) + kAbsent, qs(prefs->driver));
    driver->setCurrentIndex(std::max(driver->findText(qs(prefs->driver)), 0));
    for (int i = 0; i < driver->count(); ++i)
        if (driver->itemData(i).toString() == qs(prefs->driver)) driver->setCurrentIndex(i);
    auto* panel = new QPushButton("&Control Panel...", page);
    panel->setObjectName("btnControlPanel");
    connect(panel, &QPushButton::clicked, this, [this] { controlPanel(); });
    top->addWidget(label);
    top->addWidget(driver, 1);
    top->addWidget(panel);
    layout->addLayout(top);

    auto* channels = new QFormLayout;
    outputChannel = new QComboBox(page);
    inputChannel = new QComboBox(page);
    for (const std::string& name : prefs->outputChannelNames) outputChannel->addItem(qs(name));
    for (const std::string& name : prefs->inputChannelNames) inputChannel->addItem(qs(name));
    outputChannel->setCurrentIndex(std::min(prefs->outputChannel, outputChannel->count() - 1));
    inputChannel->setCurrentIndex(std::min(prefs->inputChannel, inputChannel->count() - 1));
    channels->addRow("First output channel:", outputChannel);
    channels->addRow("First input channel:", inputChannel);
    const auto volume = [page](int db, const char* name) {
        auto* spin = new QSpinBox(page);
        spin->setObjectName(name);
        spin->setRange(-49, 0);
        spin->setSuffix(" dB");
        spin->setValue(db);
        return spin;
    };
    outputVolume = volume(prefs->outputVolumeDb, "seOutputVolume");
    inputVolume = volume(prefs->inputVolumeDb, "seInputVolume");
    channels->addRow("Master output volume:", outputVolume);
    channels->addRow("Master input volume:", inputVolume);
    layout->addLayout(channels);

    auto* mapRow = new QHBoxLayout;
    maps[0] = table(page, {"PortNr", "ASIO Input Channel"}, "lvInputMap");
    maps[1] = table(page, {"PortNr", "ASIO Output Channel"}, "lvOutputMap");
    for (std::size_t side = 0; side < 2; ++side) {
        maps[side]->header()->resizeSection(0, 60);
        mapRow->addWidget(maps[side]);
        onF2(maps[side], [this, side] { editPortNumber(side == 0); });
    }
    layout->addLayout(mapRow, 1);
    information = new QLabel(qs(prefs->informationLine()), page);
    information->setObjectName("lbInformation");
    layout->addWidget(information);
    fillMaps();
    return page;
}

void TdlgPrefs::fillMaps() {
    for (std::size_t side = 0; side < 2; ++side) {
        const bool input = side == 0;
        const std::vector<std::string>& names = input ? prefs->inputChannelNames : prefs->outputChannelNames;
        const std::array<int, 32>& map = input ? prefs->inputMap : prefs->outputMap;
        const int current = maps[side]->indexOfTopLevelItem(maps[side]->currentItem());
        maps[side]->clear();
        for (std::size_t k = 0; k < names.size() && k < map.size(); ++k)
            new QTreeWidgetItem(maps[side], {map[k] < 0 ? QString() : QString::number(map[k]), qs(names[k])});
        if (current >= 0 && current < maps[side]->topLevelItemCount())
            maps[side]->setCurrentItem(maps[side]->topLevelItem(current));
    }
}

void TdlgPrefs::editPortNumber(bool input) {
    QTreeWidget* tree = maps[input ? 0 : 1];
    const int row = tree->indexOfTopLevelItem(tree->currentItem());
    if (row < 0) return;
    QString value = tree->currentItem()->text(0);
    if (!inputBox(this, "PortNr", "Port number (empty: the channel takes no part):", value)) return;
    bool ok = false;
    const int number = value.trimmed().toInt(&ok);
    if (!value.trimmed().isEmpty() && (!ok || number < 0 || number > 127)) {
        QMessageBox::warning(this, "PortNr", "A port number is 0 to 127, or empty.");
        return;
    }
    (input ? prefs->inputMap : prefs->outputMap)[static_cast<std::size_t>(row)] =
        value.trimmed().isEmpty() ? -1 : number;
    fillMaps();
}

void TdlgPrefs::controlPanel() {
    QDialog panel(this);
    panel.setWindowTitle(driver->currentText() + " - Control Panel");
    auto* form = new QFormLayout(&panel);
    auto* size = new QComboBox(&panel);
    size->setObjectName("cbBufferSize");
    for (int frames : {32, 64, 128, 256, 512, 1024, 2048, 4096}) size->addItem(QString::number(frames));
    auto* rate = new QComboBox(&panel);
    rate->setObjectName("cbSampleRate");
    for (int hertz : {44100, 48000, 88200, 96000}) rate->addItem(QString::number(hertz));
    const audio::TASIOHost* host = rack.control().host();
    const int shownSize = prefs->bufferSize > 0 ? prefs->bufferSize : host != nullptr ? host->bufferSize : 256;
    const int shownRate = static_cast<int>(prefs->sampleRate > 0 ? prefs->sampleRate
                                           : host != nullptr     ? host->sampleRate
                                                                 : 48000);
    // The values in use are offered even when they are not among the usual ones.
    for (const auto& [box, value] : {std::pair{size, shownSize}, std::pair{rate, shownRate}}) {
        if (box->findText(QString::number(value)) < 0) box->addItem(QString::number(value));
        box->setCurrentText(QString::number(value));
    }
    form->addRow("Buffer size (frames):", size);
    form->addRow("Sample rate (Hz):", rate);
    if (driver->currentText().startsWith("JACK"))
        form->addRow(
            new QLabel("The JACK server sets the rate; a buffer size changes the server's for every client.", &panel));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &panel);
    connect(buttons, &QDialogButtonBox::accepted, &panel, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &panel, &QDialog::reject);
    form->addRow(buttons);
    if (panel.exec() != QDialog::Accepted) return;
    // Only what the user changed is applied at OK.
    if (size->currentText().toInt() != shownSize) prefs->bufferSize = size->currentText().toInt();
    if (rate->currentText().toInt() != shownRate) prefs->sampleRate = rate->currentText().toDouble();
}

QWidget* TdlgPrefs::buildFolders() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    vstFolders = table(page, {"FolderName", "VSTi/VST Folder"}, "lvVstFolders");
    vstFolders->header()->resizeSection(0, 140);
    layout->addWidget(vstFolders, 1);
    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton("A&dd...", page);
    auto* remove = new QPushButton("&Remove", page);
    auto* modify = new QPushButton("&Modify...", page);
    const auto pick = [this](int row) {
        QString result;
        const QString start = row >= 0 ? qs(prefs->vstFolders[static_cast<std::size_t>(row)].folder) : QString();
        if (!folderPicker(this, "~VST", start, result)) return;
        while (result.endsWith('/') && result.size() > 1) result.chop(1);
        if (row < 0) {
            prefs->vstFolders.push_back({"", result.toStdString()});
        } else {
            prefs->vstFolders[static_cast<std::size_t>(row)].folder = result.toStdString();
        }
        fillFolders();
    };
    connect(add, &QPushButton::clicked, this, [pick] { pick(-1); });
    connect(modify, &QPushButton::clicked, this, [this, pick] {
        const int row = vstFolders->indexOfTopLevelItem(vstFolders->currentItem());
        if (row >= 0) pick(row);
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = vstFolders->indexOfTopLevelItem(vstFolders->currentItem());
        if (row < 0) return;
        prefs->vstFolders.erase(prefs->vstFolders.begin() + row);
        fillFolders();
    });
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addWidget(modify);
    buttons->addStretch(1);
    linearKnobs = new QCheckBox("Linear &Knobmode", page);
    linearKnobs->setChecked(prefs->linearKnobs);
    showEditor = new QCheckBox("&Show Editor when Adding a plugin", page);
    showEditor->setChecked(prefs->showEditorWhenAdding);
    buttons->addWidget(linearKnobs);
    buttons->addWidget(showEditor);
    layout->addLayout(buttons);
    layout->addWidget(hint(page, "Select folder, then press F2 to enter FolderName. Don't use \"{\",\"}\" or \"(\" in "
                                 "FolderNames"));
    onF2(vstFolders, [this] { renameFolder(); });
    fillFolders();
    return page;
}

void TdlgPrefs::fillFolders() {
    const int current = vstFolders->indexOfTopLevelItem(vstFolders->currentItem());
    vstFolders->clear();
    for (const auto& row : prefs->vstFolders) new QTreeWidgetItem(vstFolders, {qs(row.name), qs(row.folder)});
    if (current >= 0 && current < vstFolders->topLevelItemCount())
        vstFolders->setCurrentItem(vstFolders->topLevelItem(current));
}

void TdlgPrefs::renameFolder() {
    const int row = vstFolders->indexOfTopLevelItem(vstFolders->currentItem());
    if (row < 0) return;
    QString name = vstFolders->currentItem()->text(0);
    if (!inputBox(this, "FolderName", "Name of " + vstFolders->currentItem()->text(1) + ":", name)) return;
    const std::string why = prefs->renameFolder(row, name.toStdString());
    if (!why.empty()) {
        QMessageBox::warning(this, "FolderName", qs(why));
        return;
    }
    fillFolders();
}

QWidget* TdlgPrefs::buildDebug() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    auto* lists = new QHBoxLayout;
    levels[0] = table(page, {"Count", "audioMasterCallbacks"}, "lvHostCalls");
    levels[1] = table(page, {"Count", "effDispatch Calls"}, "lvPlugCalls");
    for (std::size_t side = 0; side < 2; ++side) {
        levels[side]->header()->resizeSection(0, 60);
        lists->addWidget(levels[side]);
        onF2(levels[side], [this, side] { editLevel(side == 0); });
    }
    layout->addLayout(lists, 1);
    verbose = new QCheckBox("V&erbose", page);
    verbose->setChecked(prefs->verbose);
    layout->addWidget(verbose);
    layout->addWidget(hint(page, "Select Call, then press F2 to enter maximum count to monitor. \"A\" = ALL"));
    fillDebug(true);
    fillDebug(false);
    return page;
}

void TdlgPrefs::fillDebug(bool host) {
    QTreeWidget* tree = levels[host ? 0 : 1];
    const std::vector<std::int32_t>& values = host ? prefs->hostLevels : prefs->plugLevels;
    const int current = tree->indexOfTopLevelItem(tree->currentItem());
    tree->clear();
    for (int opcode = 0; opcode < static_cast<int>(values.size()); ++opcode)
        new QTreeWidgetItem(tree, {levelText(values[static_cast<std::size_t>(opcode)]),
                                   qs(host ? host::AmOpcodeName(opcode, false) : host::EffOpcodeName(opcode, false))});
    if (current >= 0 && current < tree->topLevelItemCount()) tree->setCurrentItem(tree->topLevelItem(current));
}

void TdlgPrefs::editLevel(bool host) {
    QTreeWidget* tree = levels[host ? 0 : 1];
    const int row = tree->indexOfTopLevelItem(tree->currentItem());
    if (row < 0) return;
    QString value = tree->currentItem()->text(0);
    if (!inputBox(this, tree->currentItem()->text(1), "Maximum count to monitor (\"A\" = ALL, \"off\"):", value))
        return;
    std::int32_t level = 0;
    if (!rack::PreferencesEditor::parseLevelText(value.toStdString(), level)) {
        QMessageBox::warning(this, "Debug", "A count, \"A\" (ALL) or \"off\".");
        return;
    }
    (host ? prefs->hostLevels : prefs->plugLevels)[static_cast<std::size_t>(row)] = level;
    fillDebug(host);
}

// ---- OK ----

void TdlgPrefs::collect() {
    prefs->statusBar = statusBar->isChecked();
    prefs->useAllCpus = allCpus->isChecked();
    prefs->isolateAfterFault = isolateAfterFault->isChecked();
    prefs->debug = debug->isChecked();
    prefs->writeLog = writeLog->isChecked();
    prefs->errorLog = errorLog->isChecked();
    std::string* const fields[] = {&prefs->textEditor,     &prefs->projectsFolder, &prefs->profilesFolder,
                                   &prefs->instrDefFolder, &prefs->imagesFolder,   &prefs->templatesFolder};
    for (std::size_t i = 0; i < folders.size(); ++i) *fields[i] = folders[i]->text().trimmed().toStdString();
    if (defaultPort->currentIndex() >= 0) prefs->defaultPort = defaultPort->currentText().toStdString();
    const QVariant chosen = driver->currentData();
    prefs->driver = (chosen.isValid() ? chosen.toString() : driver->currentText()).toStdString();
    if (outputChannel->currentIndex() >= 0) prefs->outputChannel = outputChannel->currentIndex();
    if (inputChannel->currentIndex() >= 0) prefs->inputChannel = inputChannel->currentIndex();
    prefs->outputVolumeDb = outputVolume->value();
    prefs->inputVolumeDb = inputVolume->value();
    prefs->linearKnobs = linearKnobs->isChecked();
    prefs->showEditorWhenAdding = showEditor->isChecked();
    prefs->verbose = verbose->isChecked();
}

void TdlgPrefs::accept() {
    collect();
    applyProblems = prefs->apply();
    if (!applyProblems.empty()) {
        QString text;
        for (const std::string& problem : applyProblems) text += qs(problem) + "\n";
        errorBox(this, text.trimmed());
    }
    QDialog::accept();
}

} // namespace trelvo::ui
