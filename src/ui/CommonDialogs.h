#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;
class QWidget;

namespace trelvo::ui {

// The program's small dialogs, shared by every window so that titles, prompts and the
// logging of confirmations stay uniform. All of them are modal and run on the user-interface
// thread.

/// File dialog modes: the kinds of dialog the callers ask for, by their historic flag values.
inline constexpr int kOpenExistingFile = 16;            ///< open; path and file must exist
inline constexpr int kOpenSeveralFiles = 2048;          ///< open several; as kOpenExistingFile
inline constexpr int kOpenPathMustExist = 16777216;     ///< open; only the folder must exist
inline constexpr int kSaveAskOverwrite = 64;            ///< save; asks before overwriting
inline constexpr int kSaveWithoutOverwriteAsk = 256;    ///< save; no overwrite question
inline constexpr int kFileDialogResultCapacity = 30000; ///< longer results fail, as a full buffer
inline constexpr int kInputBoxMaxLength = 999;
inline constexpr int kMaxFilterPairs = 50;

/// The title every dialog without its own title uses: QCoreApplication::applicationName().
QString applicationTitle();

/// A prompt line and one edit field prefilled with value. An empty title becomes "Input "
/// and the application title. OK stores the text (at most 999 characters) into value, logs
/// " .OK. " through the log hook and returns true; Cancel or closing leaves value.
bool inputBox(QWidget* owner, const QString& title, const QString& prompt, QString& value);

/// An open or save dialog of the given mode (kOpenExistingFile ... above; any other mode
/// returns false at once). It starts in the folder of fileName, or in the Trelvo home folder
/// when fileName has none. filter holds description and pattern pairs separated by "|"
/// ("project files (*.vprj)|*.vprj|all files (*.*)|*.*"); the pair whose pattern ends in
/// fileName's extension is preselected. defaultExtension ("vprj" or ".vprj") is added to a
/// name typed without one. On success fileName receives the result: one path, or for
/// kOpenSeveralFiles with more than one file chosen, the folder and the names joined by "|"
/// ("/songs|a.fxp|b.fxp").
bool fileDialog(QWidget* owner, QString& fileName, const QString& title, int mode, const QString& filter,
                const QString& defaultExtension);

/// A folder browser with a "&Create" button. result receives the chosen folder with a
/// trailing "/" and the function returns true; Cancel gives result the start folder and
/// returns false. The prompt is explained at folderPickerPrompt().
bool folderPicker(QWidget* owner, const QString& prompt, const QString& startFolder, QString& result);

/// Places window centred over the owner's window (without an owner: the main window, else
/// the screen), never at negative coordinates.
void centreWindow(QWidget* owner, QWidget* window);

/// A plain message box without caption and with an OK button. Returns true.
bool messageBox(const QString& text);

/// A notice titled with the application title, with an OK button.
void messageDialog(QWidget* owner, const QString& text);

/// An error notice (error icon) titled with the application title.
void errorBox(QWidget* owner, const QString& text);

// ---- Parts the dialogs are made of, open to tests ----

/// A "|" filter turned into Qt's name filters, with the index of the pair to preselect
/// (0 when no pattern ends in the extension of fileName).
struct NameFilters {
    QStringList filters;
    int selected = 0;
};
NameFilters nameFiltersFrom(const QString& filter, const QString& fileName);

/// "Select a folder from the list below:" for an empty prompt, "Select the x folder from
/// the list below:" for "~x", any other prompt as it is.
QString folderPickerPrompt(const QString& prompt);

/// The folder browser folderPicker() shows. done(kReopen) asks folderPicker() to show a
/// fresh browser at selectedFolder(), so that its tree shows a folder just created.
class FolderPickerDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kReopen = 2;

    FolderPickerDialog(QWidget* owner, const QString& prompt, const QString& startFolder);

    /// The folder selected in the tree, without a trailing "/"; empty when none is.
    QString selectedFolder() const { return selected; }
    void selectFolder(const QString& folder);
    QPushButton* createButton() const { return create; }

private:
    void onCreate();
    void onSelectionChanged();

    QFileSystemModel* model;
    QTreeView* tree;
    QLabel* status;
    QPushButton* create;
    QPushButton* okButton;
    QString selected;
};

} // namespace trelvo::ui
