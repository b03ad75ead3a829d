#include "ui/HelpFiles.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>
#include <QtGlobal>
#include <utility>

#include "Version.h"
#include "ui/CommonDialogs.h"
#include "ui/SharedFiles.h"

namespace trelvo::ui {

namespace {

UrlOpener& urlOpener() {
    static UrlOpener opener;
    return opener;
}

ProgramStarter& programStarter() {
    static ProgramStarter starter;
    return starter;
}

bool openUrl(const QUrl& url) {
    return urlOpener() ? urlOpener()(url) : QDesktopServices::openUrl(url);
}

bool startProgram(const QString& program, const QStringList& arguments) {
    return programStarter() ? programStarter()(program, arguments) : QProcess::startDetached(program, arguments);
}

/// What the user reads when a file would not open: the desktop's opener gives no reason,
/// so the likely one is named.
QString openFailure(const QString& path) {
    if (!QFileInfo::exists(path)) return "Cannot open " + path + "\nThe file does not exist.";
    if (!QFileInfo(path).isReadable()) return "Cannot open " + path + "\nThe file cannot be read.";
    return "Cannot open " + path + "\nNo program is set up to open this kind of file.";
}

} // namespace

void setUrlOpener(UrlOpener opener) {
    urlOpener() = std::move(opener);
}

void setProgramStarter(ProgramStarter starter) {
    programStarter() = std::move(starter);
}

void openHelp(QWidget* owner) {
    openHelpFile(owner, sharedFile(QStringLiteral("help/Trelvo.html")));
}

void openHelpFile(QWidget* owner, const QString& helpPath) {
    if (!QFileInfo(helpPath).isFile()) {
        errorBox(owner, "Help File\n" + helpPath + "\nfile not found ...");
        return;
    }
    if (!openUrl(QUrl::fromLocalFile(helpPath))) errorBox(owner, openFailure(helpPath));
}

void openSettingsFile(QWidget* owner, const std::string& iniPath, const std::string& textEditor) {
    const QString file = QString::fromStdString(iniPath);
    const QString editor = QString::fromStdString(textEditor).trimmed();
    if (editor.isEmpty()) {
        if (!openUrl(QUrl::fromLocalFile(file))) errorBox(owner, openFailure(file));
        return;
    }
    QStringList arguments = QProcess::splitCommand(editor);
    const QString program = arguments.takeFirst();
    arguments << file;
    if (!startProgram(program, arguments))
        errorBox(owner, "Cannot start the text editor " + editor + "\nfor " + file +
                            "\nThe editor is the setting TextEditor in section [General] of that file.");
}

bool openPluginHelp(QWidget* owner, std::string& helpFile, const std::string& pluginFolder) {
    QString candidate = QString::fromStdString(helpFile);
    for (;;) {
        if (candidate.isEmpty()) {
            QString chosen = QString::fromStdString(pluginFolder);
            if (!chosen.isEmpty() && !chosen.endsWith('/')) chosen += '/';
            if (!fileDialog(owner, chosen, QStringLiteral("Open Help File"), kOpenExistingFile,
                            QStringLiteral("All files (*.*)|*.*"), QString()))
                return false;
            candidate = chosen;
        }
        if (openUrl(QUrl::fromLocalFile(candidate))) {
            helpFile = candidate.toStdString();
            return true;
        }
        errorBox(owner, openFailure(candidate));
        candidate.clear();
    }
}

QString aboutText() {
    return QString::fromUtf8(kProductName) + " " + QString::fromUtf8(kFileVersion) +
           "\n\nA live-performance host for VST 2.x plug-ins on Linux: a rack of instruments and effects, "
           "played from MIDI keyboards and control surfaces, with presets switched by program change."
           "\n\nBuilt with Qt " QT_VERSION_STR ", running on Qt " +
           QString::fromLatin1(qVersion()) + ".";
}

void showAbout(QWidget* owner) {
    QMessageBox box(owner);
    box.setWindowTitle("About " + QString::fromUtf8(kProductName));
    box.setTextFormat(Qt::PlainText);
    box.setText(aboutText());
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace trelvo::ui
