#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <string>

class QUrl;
class QWidget;

namespace trelvo::ui {

// The help commands: the user guide, the settings file in the user's editor, a plug-in's
// own help file, and the About box. Thread: user interface.

/// Opens a file or web address with the desktop's handler. False when nothing opened it.
using UrlOpener = std::function<bool(const QUrl& url)>;
/// Starts a program detached from Trelvo. False when it could not be started.
using ProgramStarter = std::function<bool(const QString& program, const QStringList& arguments)>;

/// Replace how files are opened and programs started (tests do, to launch nothing).
/// An empty function restores the default (QDesktopServices::openUrl, QProcess::startDetached).
void setUrlOpener(UrlOpener opener);
void setProgramStarter(ProgramStarter starter);

/// "Trelvo Help": opens the user guide, the shared file "help/Trelvo.html".
void openHelp(QWidget* owner);
/// Opens helpPath; when it is missing, an error box says "Help File", the path and
/// "file not found ...", each on a line of its own.
void openHelpFile(QWidget* owner, const QString& helpPath);

/// "&IniFile...": opens the settings file with textEditor (a program, with arguments if
/// any), or with the desktop's handler when textEditor is empty. A program that cannot be
/// started is named in an error box.
void openSettingsFile(QWidget* owner, const std::string& iniPath, const std::string& textEditor);

/// "Plugin &Help...": opens helpFile, or, without one, the file chosen in an "Open Help
/// File" dialog that starts in pluginFolder. When opening fails the reason is shown and the
/// dialog asks again, until a file opens or the user cancels. Returns true when a file was
/// opened; helpFile then names it (for the plug-in's profile).
bool openPluginHelp(QWidget* owner, std::string& helpFile, const std::string& pluginFolder);

/// The text of the About box: name and version, what Trelvo is, the Qt version.
QString aboutText();
/// "&About...": the About box, titled "About Trelvo".
void showAbout(QWidget* owner);

} // namespace trelvo::ui
