#include "ui/CommonDialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "diag/DiagLog.h"
#include "platform/TrelvoHome.h"

namespace trelvo::ui {

namespace {

QWidget* mainWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow*>(widget) != nullptr && widget->isVisible()) return widget;
    return nullptr;
}

QString withTrailingSlash(const QString& folder) {
    return folder.endsWith('/') ? folder : folder + '/';
}

/// The dialog for the modes whose folder must exist: Qt checks that a file exists, but
/// lets a name in a missing folder through.
class CheckedFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    bool folderMustExist = false;

    void accept() override {
        if (folderMustExist) {
            for (const QString& file : selectedFiles()) {
                const QFileInfo info(file);
                if (info.isDir() || QFileInfo(info.absolutePath()).isDir()) continue;
                errorBox(this, "Folder " + info.absolutePath() + " does not exist");
                return;
            }
        }
        QFileDialog::accept();
    }
};

/// "a|b" patterns of Windows heritage in Qt's form: ";" separates, and "*.*" means every
/// file, dotted or not.
QString qtPatterns(const QString& patterns) {
    QStringList list;
    for (QString pattern : patterns.split(';', Qt::SkipEmptyParts)) {
        pattern = pattern.trimmed();
        list << (pattern == "*.*" ? QStringLiteral("*") : pattern);
    }
    return list.join(' ');
}

} // namespace

QString applicationTitle() {
    return QCoreApplication::applicationName();
}

void centreWindow(QWidget* owner, QWidget* window) {
    if (window == nullptr) return;
    QWidget* reference = owner != nullptr ? owner->window() : mainWindow();
    QRect area;
    if (reference != nullptr && reference != window) {
        area = reference->frameGeometry();
    } else {
        QScreen* screen = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
        if (screen == nullptr) return;
        area = screen->availableGeometry();
    }
    const QSize size = window->frameGeometry().size();
    const int x = area.x() + (area.width() - size.width()) / 2;
    const int y = area.y() + (area.height() - size.height()) / 2;
    window->move(std::max(0, x), std::max(0, y));
}

bool inputBox(QWidget* owner, const QString& title, const QString& prompt, QString& value) {
    QInputDialog dialog(owner);
    dialog.setWindowTitle(title.isEmpty() ? "Input " + applicationTitle() : title);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setLabelText(prompt);
    dialog.setTextValue(value.left(kInputBoxMaxLength));
    auto* edit = dialog.findChild<QLineEdit*>();
    if (edit != nullptr) edit->setMaxLength(kInputBoxMaxLength);
    dialog.adjustSize();
    centreWindow(owner, &dialog);
    if (edit != nullptr) edit->setFocus();
    if (dialog.exec() != QDialog::Accepted) return false;
    value = dialog.textValue().left(kInputBoxMaxLength);
    diag::hookedLog(" .OK. ");
    return true;
}

NameFilters nameFiltersFrom(const QString& filter, const QString& fileName) {
    NameFilters result;
    const QString name = fileName.mid(fileName.lastIndexOf('/') + 1);
    const int dot = name.lastIndexOf('.');
    const QString extension = dot >= 0 ? name.mid(dot) : QString();
    const QStringList parts = filter.split('|');
    bool found = false;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns = parts[i + 1].trimmed();
        if (!found && !extension.isEmpty() && i / 2 < kMaxFilterPairs &&
            patterns.endsWith(extension, Qt::CaseInsensitive)) {
            result.selected = static_cast<int>(result.filters.size());
            found = true;
        }
        // Qt reads the patterns from the last parenthesised group; a description that
        // already shows its patterns gives them up for the real ones.
        QString description = parts[i].trimmed();
        if (description.endsWith(')') && description.contains('('))
            description = description.left(description.lastIndexOf('(')).trimmed();
        const QString shown = qtPatterns(patterns);
        result.filters << (description.isEmpty() ? shown : description) + " (" + shown + ")";
    }
    return result;
}

bool fileDialog(QWidget* owner, QString& fileName, const QString& title, int mode, const QString& filter,
                const QString& defaultExtension) {
    CheckedFileDialog dialog(owner, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    switch (mode) {
    case kOpenExistingFile:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        break;
    case kOpenSeveralFiles:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        break;
    case kOpenPathMustExist:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.folderMustExist = true;
        break;
    case kSaveAskOverwrite:
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.folderMustExist = true;
        break;
    case kSaveWithoutOverwriteAsk:
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.folderMustExist = true;
        break;
    default: return false;
    }

    const int slash = static_cast<int>(fileName.lastIndexOf('/'));
    const QString folder = slash < 0    ? QString::fromStdString(platform::trelvoHome())
                           : slash == 0 ? QStringLiteral("/")
                                        : fileName.left(slash);
    dialog.setDirectory(folder);

    const NameFilters filters = nameFiltersFrom(filter, fileName);
    if (!filters.filters.isEmpty()) {
        dialog.setNameFilters(filters.filters);
        dialog.selectNameFilter(filters.filters[filters.selected]);
    }
    QString extension = defaultExtension;
    if (extension.startsWith('.')) extension.remove(0, 1);
    if (!extension.isEmpty()) dialog.setDefaultSuffix(extension);

    const QString name = fileName.mid(slash + 1);
    if (!name.isEmpty() && !name.contains('*') && !name.contains('?')) dialog.selectFile(name);

    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;

    QString text = files.first();
    if (mode == kOpenSeveralFiles && files.size() > 1) {
        const QString chosenFolder = QFileInfo(files.first()).absolutePath();
        QStringList parts{chosenFolder};
        for (const QString& file : files) {
            const QFileInfo info(file);
            parts << (info.absolutePath() == chosenFolder ? info.fileName() : file);
        }
        text = parts.join('|');
    }
    if (text.size() >= kFileDialogResultCapacity) return false;
    fileName = text;
    return true;
}

bool messageBox(const QString& text) {
    QMessageBox box;
    box.setWindowTitle(QString());
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return true;
}

void messageDialog(QWidget* owner, const QString& text) {
    QMessageBox box(owner);
    box.setWindowTitle(applicationTitle());
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.adjustSize();
    centreWindow(owner, &box);
    box.exec();
}

void errorBox(QWidget* owner, const QString& text) {
    QMessageBox box(owner);
    box.setIcon(QMessageBox::Critical);
    box.setWindowTitle(applicationTitle());
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

QString folderPickerPrompt(const QString& prompt) {
    if (prompt.isEmpty()) return QStringLiteral("Select a folder from the list below:");
    if (prompt.startsWith('~')) return "Select the " + prompt.mid(1) + " folder from the list below:";
    return prompt;
}

FolderPickerDialog::FolderPickerDialog(QWidget* owner, const QString& prompt, const QString& startFolder)
    : QDialog(owner), model(new QFileSystemModel(this)), tree(new QTreeView(this)), status(new QLabel(this)),
      create(new QPushButton(QStringLiteral("&Create"), this)) {
    setWindowTitle(applicationTitle());
    // Hidden folders too: the Trelvo home folder lives under ~/.config.
    model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    model->setRootPath(QStringLiteral("/"));
    tree->setModel(model);
    tree->setHeaderHidden(true);
    for (int column = 1; column < model->columnCount(); ++column) tree->hideColumn(column);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    okButton = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    create->setFixedWidth(80);
    connect(create, &QPushButton::clicked, this, &FolderPickerDialog::onCreate);
    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &FolderPickerDialog::onSelectionChanged);

    auto* label = new QLabel(folderPickerPrompt(prompt), this);
    label->setWordWrap(true);
    status->setText(startFolder);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(create);
    bottom->addStretch();
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(status);
    layout->addWidget(tree, 1);
    layout->addLayout(bottom);
    resize(420, 460);

    selectFolder(startFolder);
}

void FolderPickerDialog::selectFolder(const QString& folder) {
    const QString clean = QDir::cleanPath(folder);
    const QModelIndex index = QFileInfo(clean).isDir() ? model->index(clean) : QModelIndex();
    if (index.isValid()) {
        tree->setCurrentIndex(index);
        tree->scrollTo(index);
    } else {
        tree->setCurrentIndex(QModelIndex());
    }
    onSelectionChanged();
}

void FolderPickerDialog::onSelectionChanged() {
    const QModelIndex index = tree->currentIndex();
    selected = index.isValid() ? model->filePath(index) : QString();
    if (!selected.isEmpty()) status->setText(selected);
    create->setEnabled(!selected.isEmpty());
    okButton->setEnabled(!selected.isEmpty());
}

void FolderPickerDialog::onCreate() {
    if (selected.isEmpty()) return;
    QString name = selected;
    if (!inputBox(this, QStringLiteral("New Folder"), QStringLiteral("Name of the new folder:"), name)) return;
    if (name.isEmpty()) return;
    const QString path = QDir::cleanPath(name.startsWith('/') ? name : withTrailingSlash(selected) + name);
    if (QFileInfo::exists(path)) {
        messageDialog(this, "Folder " + path + " already exists");
        selectFolder(path);
        return;
    }
    if (!QDir().mkpath(path)) {
        errorBox(this, "Folder " + path + " could not be created");
        return;
    }
    selected = path;
    done(kReopen);
}

bool folderPicker(QWidget* owner, const QString& prompt, const QString& startFolder, QString& result) {
    QString start = startFolder;
    for (;;) {
        FolderPickerDialog dialog(owner, prompt, start);
        centreWindow(owner, &dialog);
        const int outcome = dialog.exec();
        if (outcome == FolderPickerDialog::kReopen) {
            start = dialog.selectedFolder();
            continue;
        }
        if (outcome == QDialog::Accepted && !dialog.selectedFolder().isEmpty()) {
            result = withTrailingSlash(dialog.selectedFolder());
            return true;
        }
        result = startFolder;
        return false;
    }
}

} // namespace trelvo::ui
