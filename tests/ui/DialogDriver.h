#pragma once

// Drives modal dialogs from a test: the code under test calls exec(), and a timer finds the
// dialog it opened and fills it in.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <functional>
#include <memory>

namespace trelvo::test {

/// Runs action on the next shown modal dialog of type T. A dialog is acted on only once, so
/// a dialog opened again (possibly at the same address) is told apart from the one before.
/// A dialog that does not come within five seconds fails the test, and whatever modal
/// dialog is up then is rejected, so that the test ends instead of hanging.
template <typename T> void onNextDialog(std::function<void(T*)> action) {
    auto* timer = new QTimer(qApp);
    auto waited = std::make_shared<QElapsedTimer>();
    waited->start();
    QObject::connect(timer, &QTimer::timeout, [timer, waited, action] {
        QWidget* modal = QApplication::activeModalWidget();
        T* dialog = qobject_cast<T*>(modal);
        if (dialog != nullptr && dialog->isVisible() && !dialog->property("trelvoTestSeen").toBool()) {
            dialog->setProperty("trelvoTestSeen", true);
            timer->stop();
            timer->deleteLater();
            action(dialog);
            return;
        }
        if (waited->elapsed() > 5000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "expected a " << T::staticMetaObject.className() << " dialog";
            if (auto* stuck = qobject_cast<QDialog*>(modal)) stuck->reject();
        }
    });
    timer->start(5);
}

/// Accepts a dialog as its OK button would; through QDialog, since QFileDialog hides accept().
inline void accept(QDialog* dialog) {
    dialog->accept();
}

/// Makes names the dialog's choice, as a user who types them does: one name, a path, or
/// several quoted names. What the dialog preselected is dropped first. (QFileDialog's
/// selectFile() would not do: it leaves the name field alone once the field has the focus,
/// and keeps files selected in the list while the model loads, both a matter of timing.)
inline void typeFileNames(QFileDialog* dialog, const QString& names) {
    for (auto* view : dialog->findChildren<QAbstractItemView*>())
        if (view->selectionModel() != nullptr) view->selectionModel()->clearSelection();
    auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText(names);
}

/// Rejects any modal dialog that shows up while it lives and remembers that one did: for
/// calls that must return without showing anything.
class NoDialogExpected {
public:
    NoDialogExpected() {
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                shown = true;
                dialog->reject();
            }
        });
        guard.start(500);
    }
    bool dialogWasShown() const { return shown; }

private:
    QTimer guard;
    bool shown = false;
};

} // namespace trelvo::test
