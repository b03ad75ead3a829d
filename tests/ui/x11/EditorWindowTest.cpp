// Plug-in editors in the main window on a real X server: the project's own synthesizer with
// exact expectations, every editor of the third-party package, and an editor that crashes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMdiArea>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QTest>
#include <csignal>
#include <set>

#include "TestPaths.h"
#include "host/IsolatedEffect.h"
#include "host/TVstPlugIn.h"
#include "session/RackController.h"
#include "session/Session.h"
#include "support/EnvironmentVariable.h"
#include "support/TempFolder.h"
#include "support/ThirdPartyPlugins.h"
#include "ui/EditorPictures.h"
#include "ui/SlotListView.h"
#include "ui/TMainForm.h"
#include "ui/TVstEdt.h"

// Last: Xlib's macros (None, Status, Bool) would rewrite names of the headers above.
#include <X11/Xlib.h>

namespace trelvo::test {
namespace {

using ui::TMainForm;
using ui::TVstEdt;

Display* qtDisplay() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->display() : nullptr;
}

/// The plug-in's own window inside an editor's native window.
Window plugInWindow(TVstEdt& editor) {
    Display* display = qtDisplay();
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, static_cast<Window>(editor.nativeHandle()), &root, &parent, &children, &count) && count > 0)
        found = children[0];
    if (children != nullptr) XFree(children);
    return found;
}

/// A mouse event sent straight to a window, as the X server would deliver it.
void sendMouse(Window window, int type, int x, int y) {
    Display* display = qtDisplay();
    XEvent event{};
    event.type = type;
    if (type == MotionNotify) {
        event.xmotion.window = window;
        event.xmotion.x = x;
        event.xmotion.y = y;
        event.xmotion.state = Button1Mask;
        event.xmotion.same_screen = True;
        XSendEvent(display, window, True, PointerMotionMask | ButtonMotionMask, &event);
    } else {
        event.xbutton.window = window;
        event.xbutton.x = x;
        event.xbutton.y = y;
        event.xbutton.button = Button1;
        event.xbutton.same_screen = True;
        XSendEvent(display, window, True, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
    }
    XFlush(display);
}

int distinctColours(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}

class EditorWindowX11 : public ::testing::Test {
protected:
    EditorWindowX11() {
        setenv("TRELVO_HOME", home.path().c_str(), 1);
        writeFile(home.file("Trelvo.ini"), "[General]\r\nWrLog=1\r\n[ASIO]\r\nDriver=Dummy\r\n");
        session = std::make_unique<app::Session>(true);
        form = std::make_unique<TMainForm>(*session, std::string());
        form->show();
        EXPECT_TRUE(QTest::qWaitFor([this] { return form->stage() == TMainForm::Stage::Painted; }, 15000));
    }
    ~EditorWindowX11() override {
        form->close();
        form.reset();
        session.reset();
        unsetenv("TRELVO_HOME");
    }
    rack::RackController& controller() { return *session->controller; }
    int load(const std::string& path) {
        const int slot = controller().loadPlugin(path);
        controller().select(slot);
        form->idleTick();
        return slot;
    }
    /// Idle ticks with the event loop running between them.
    void idle(int ticks = 3) {
        for (int i = 0; i < ticks; ++i) {
            QTest::qWait(10);
            form->idleTick();
        }
    }

    TempFolder home;
    std::unique_ptr<app::Session> session;
    std::unique_ptr<TMainForm> form;
};

TEST_F(EditorWindowX11, TheSynthesizersEditorOpensAtItsSizeAfterOpeningAndFollowsItsSizeRequests) {
    const int synth = load(TrelvoSynth_PATH);
    // Before opening it says 320 x 200; once open, 400 x 200.
    EXPECT_TRUE(form->ShowEditor(synth));
    TVstEdt* editor = form->editorOf(synth);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->clientSize(), QSize(400, 200));
    EXPECT_TRUE(controller().rack().slot(synth).EditorOpen.load());

    // Its "Size" button asks the host for 480 x 260.
    const Window own = plugInWindow(*editor);
    ASSERT_NE(own, 0u);
    sendMouse(own, ButtonPress, 350, 18);
    sendMouse(own, ButtonRelease, 350, 18);
    idle();
    EXPECT_EQ(editor->clientSize(), QSize(480, 260));
}

TEST_F(EditorWindowX11, AnIsolatedPlugInsEditorDrawsInTheEditorWindowAndComesBackAfterARestart) {
    const EnvironmentVariable worker("TRELVO_SLOT_WORKER", TRELVO_SLOT_WORKER_PATH);
    const int synth = load(TrelvoSynth_PATH);
    QAction* isolate = form->command("mnIsolated");
    ASSERT_NE(isolate, nullptr);
    // The VST menu, opened, shows the item for the selected plug-in, unchecked.
    for (QObject* owner : isolate->associatedObjects())
        if (auto* menu = qobject_cast<QMenu*>(owner)) Q_EMIT menu->aboutToShow();
    ASSERT_TRUE(isolate->isEnabled());
    EXPECT_FALSE(isolate->isChecked());
    isolate->trigger(); // the menu item moves the selected plug-in into a process of its own
    host::TVstPlugIn& plugIn = controller().rack().slot(synth);
    ASSERT_TRUE(plugIn.isolation);
    EXPECT_TRUE(isolate->isChecked());

    // The plug-in, in its worker, opens its view inside the editor window and asks for its
    // size from there; its "Size" button asks again.
    ASSERT_TRUE(form->ShowEditor(synth));
    TVstEdt* editor = form->editorOf(synth);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->clientSize(), QSize(400, 200));
    const Window own = plugInWindow(*editor);
    ASSERT_NE(own, 0u);
    sendMouse(own, ButtonPress, 350, 18);
    sendMouse(own, ButtonRelease, 350, 18);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            idle(1);
            return editor->clientSize() == QSize(480, 260);
        },
        5000));
    int colours = 0;
    for (int i = 0; i < 40 && colours < 4; ++i) {
        idle(1);
        colours = distinctColours(editor->screen()->grabWindow(static_cast<WId>(editor->nativeHandle())).toImage());
    }
    EXPECT_GE(colours, 4);

    // Its worker killed, its view goes with it (the X server ends a client's windows); the
    // plug-in is restarted and opens a fresh view in the same window, at the size it starts
    // with (the old one had grown).
    ASSERT_EQ(::kill(plugIn.isolation->workerPid(), SIGKILL), 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            idle(1);
            return plugIn.isolation->restarts() == 1 &&
                   plugIn.isolation->state() == host::IsolatedEffect::State::Running && plugInWindow(*editor) != 0;
        },
        10000));
    EXPECT_EQ(form->editorOf(synth), editor);
    // At the size the restarted view starts with.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            idle(1);
            return editor->clientSize() == QSize(400, 200);
        },
        5000));
}

TEST_F(EditorWindowX11, TheEditorsPictureGoesToPngOrBmpFilesByTheirNameAndToTheClipboard) {
    const int synth = load(TrelvoSynth_PATH);
    ASSERT_TRUE(form->ShowEditor(synth));
    idle();
    const unsigned long window = form->editorOf(synth)->nativeHandle();
    QString error;
    for (const char* name : {"synth.PNG", "synth.bmp", "synth"}) {
        ASSERT_TRUE(ui::captureWindow(window, QString::fromStdString(home.file(name)), error)) << error.toStdString();
        const std::string bytes = readFile(home.file(name));
        const bool png = std::string(name).ends_with(".PNG");
        EXPECT_EQ(bytes.substr(0, png ? 4 : 2), png ? "\x89PNG" : "BM") << name;
        const QImage image(QString::fromStdString(home.file(name)), png ? "PNG" : "BMP");
        EXPECT_EQ(image.size(), QSize(400, 200)) << name;
    }
    ASSERT_TRUE(ui::captureWindow(window, "ClpBrdPNG", error));
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(data->data("image/png").startsWith("\x89PNG"));
    EXPECT_EQ(qvariant_cast<QImage>(data->imageData()).size(), QSize(400, 200));
    ASSERT_TRUE(ui::captureWindow(window, "ClpBrdBMP", error));
    EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->data("image/bmp").startsWith("BM"));

    // Without an editor there is nothing to take.
    EXPECT_FALSE(ui::captureWindow(0, QString::fromStdString(home.file("none.png")), error));
    EXPECT_FALSE(fileExists(home.file("none.png")));
}

TEST_F(EditorWindowX11, DraggingAKnobChangesTheParameterTheHostReads) {
    const int synth = load(TrelvoSynth_PATH);
    host::TVstPlugIn& plugIn = controller().rack().slot(synth);
    plugIn.SetParameter(0, 0.5f);
    ASSERT_TRUE(form->ShowEditor(synth));
    const Window own = plugInWindow(*form->editorOf(synth));
    ASSERT_NE(own, 0u);
    // Up by 50 pixels: a quarter of the knob's range.
    sendMouse(own, ButtonPress, 70, 110);
    sendMouse(own, MotionNotify, 70, 80);
    sendMouse(own, ButtonRelease, 70, 60);
    idle();
    EXPECT_NEAR(plugIn.GetParameter(0), 0.75f, 1e-4f);
}

TEST_F(EditorWindowX11, ToggledTwiceTheEditorClosesAndReopensWhereItWas) {
    const int synth = load(TrelvoSynth_PATH);
    form->ShowHideEditor(2);
    TVstEdt* editor = form->editorOf(synth);
    ASSERT_NE(editor, nullptr);
    editor->move(60, 40);
    const Window own = plugInWindow(*editor);
    ASSERT_NE(own, 0u);

    form->ShowHideEditor(2);
    EXPECT_EQ(form->editorOf(synth), nullptr);
    host::TVstPlugIn& plugIn = controller().rack().slot(synth);
    EXPECT_FALSE(plugIn.EditorOpen.load());
    EXPECT_FALSE(plugIn.EditorShown.load());
    QTest::qWait(50); // the window goes with the event loop
    EXPECT_TRUE(form->openEditorsFrontFirst().empty());

    form->ShowHideEditor(2);
    ASSERT_NE(form->editorOf(synth), nullptr);
    EXPECT_EQ(form->editorOf(synth)->pos(), QPoint(60, 40));
    EXPECT_TRUE(plugIn.EditorShown.load());
}

TEST_F(EditorWindowX11, ActivatingTheEditorOfAnotherSlotSelectsThatSlot) {
    const int first = load(TrelvoSynth_PATH);
    const int second = load(TrelvoSynth_PATH);
    ASSERT_TRUE(form->ShowEditor(first));
    ASSERT_TRUE(form->ShowEditor(second));
    auto* area = form->findChild<QMdiArea*>("ClientArea");
    area->setActiveSubWindow(form->editorOf(first));
    EXPECT_EQ(controller().selected, first);
    area->setActiveSubWindow(form->editorOf(second));
    EXPECT_EQ(controller().selected, second);
    EXPECT_EQ(form->slotList()->currentIndex().row(), second);
}

TEST_F(EditorWindowX11, APageShowsOnlyItsOwnEditorsWithNumberOneInFront) {
    const int a = load(TrelvoSynth_PATH);
    const int b = load(TrelvoSynth_PATH);
    const int c = load(TrelvoSynth_PATH);
    form->command("mnAddTab")->trigger();
    // a and b on the first page (b in front), c on the second.
    for (int slot : {a, b}) {
        controller().select(slot);
        form->ShowHideEditor(1);
    }
    form->changePage(1);
    EXPECT_TRUE(form->openEditorsFrontFirst().empty());
    controller().select(c);
    form->ShowHideEditor(1);
    EXPECT_EQ(form->openEditorsFrontFirst(), std::vector<int>{c});

    form->changePage(0);
    EXPECT_EQ(form->openEditorsFrontFirst(), (std::vector<int>{b, a}));
    EXPECT_EQ(controller().selected, b);
    EXPECT_EQ(form->editorOf(c), nullptr);
    EXPECT_TRUE(controller().rack().slot(c).EditorShown.load()); // still shown on its page
}

TEST_F(EditorWindowX11, AnEditorThatCrashesWhileOpeningIsTakenOutAndTheWindowStaysUp) {
    const int faulty = load(TrelvoFaulty_CrashInEditOpen_PATH);
    form->ShowHideEditor(1);
    idle();
    EXPECT_EQ(form->editorOf(faulty), nullptr);
    EXPECT_TRUE(form->isVisible());
    const auto boxes = form->findChildren<QMessageBox*>("FaultMessage");
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_THAT(boxes.front()->text().toStdString(), ::testing::HasSubstr("TrelvoFaulty"));
    // Told once.
    idle(5);
    EXPECT_EQ(form->findChildren<QMessageBox*>("FaultMessage").size(), 1);
}

TEST_F(EditorWindowX11, AProjectSavedWithAnOpenEditorOpensItAgainOnItsPage) {
    const int synth = load(TrelvoSynth_PATH);
    form->ShowHideEditor(1);
    ASSERT_NE(form->editorOf(synth), nullptr);
    form->editorOf(synth)->move(30, 20);
    const std::string project = home.file("with editor.vprj");
    ASSERT_TRUE(controller().saveProjectTo(project));
    form->close();
    form.reset();
    session.reset();

    session = std::make_unique<app::Session>(true);
    form = std::make_unique<TMainForm>(*session, project);
    form->show();
    ASSERT_TRUE(QTest::qWaitFor([this] { return form->stage() == TMainForm::Stage::Painted; }, 15000));
    TVstEdt* editor = form->editorOf(synth);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->pos(), QPoint(30, 20));
    EXPECT_EQ(form->openEditorsFrontFirst(), std::vector<int>{synth});
}

class ThirdPartyEditorX11 : public EditorWindowX11, public ::testing::WithParamInterface<std::string> {};

TEST_P(ThirdPartyEditorX11, OpensDrawsClosesAndUnloads) {
    const int slot = load(GetParam());
    ASSERT_GE(slot, 0);
    host::TVstPlugIn& plugIn = controller().rack().slot(slot);
    ASSERT_TRUE(plugIn.PlugLoaded.load()) << GetParam();
    if (!plugIn.hasEditor()) GTEST_SKIP() << "no editor";
    ASSERT_TRUE(form->ShowEditor(slot));
    TVstEdt* editor = form->editorOf(slot);
    ASSERT_NE(editor, nullptr);
    // Something other than one flat colour within two seconds of idling.
    int colours = 0;
    for (int i = 0; i < 40 && colours < 4; ++i) {
        idle(1);
        QTest::qWait(40);
        const QImage image = editor->screen()->grabWindow(static_cast<WId>(editor->nativeHandle())).toImage();
        colours = distinctColours(image);
    }
    EXPECT_GE(colours, 4) << GetParam();
    form->ShowHideEditor(0);
    EXPECT_EQ(form->editorOf(slot), nullptr);
    EXPECT_FALSE(plugIn.EditorOpen.load());
    EXPECT_TRUE(controller().deleteSlot(rack::SlotKind::Plugin, slot));
    idle(1);
}

INSTANTIATE_TEST_SUITE_P(Dpf, ThirdPartyEditorX11, ::testing::ValuesIn(thirdPartyPlugins()), pluginTestName);

} // namespace
} // namespace trelvo::test
