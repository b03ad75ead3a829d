// TrelvoSynth's editor on a real X server (run under Xvfb): a parent window of the test's
// own, the plug-in loaded through the direct test host, input sent as synthetic events.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "TestPaths.h"
#include "support/DirectPlugin.h"

namespace trelvo::test {
namespace {

// The editor's documented layout.
constexpr int kVolumeKnobX = 70;
constexpr int kWaveKnobX = 180;
constexpr int kKnobY = 110;
constexpr int kSizeButtonX = 350;
constexpr int kSizeButtonY = 18;

struct Size {
    int width;
    int height;
    bool operator==(const Size&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Size& size) {
    return out << size.width << " x " << size.height;
}

// The X server resets when its last client leaves and refuses connections while it does; a
// connection held for the whole program keeps it from resetting between tests.
Display* openDisplay() {
    static Display* const keepsTheServerUp = XOpenDisplay(nullptr);
    return keepsTheServerUp != nullptr ? XOpenDisplay(nullptr) : nullptr;
}

class SynthEditorX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        display = openDisplay();
        ASSERT_NE(display, nullptr) << "no X display: these tests run under tools/xvfb-test";
        parent = createParent();
        ASSERT_TRUE(plugin.loaded()) << plugin.error();
        plugin.open();
    }

    void TearDown() override {
        if (display == nullptr) return;
        plugin.dispatch(effEditClose);
        XDestroyWindow(display, parent);
        XCloseDisplay(display);
    }

    ::Window createParent() {
        const ::Window window =
            XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 640, 400, 0, 0, 0x808080);
        XMapWindow(display, window);
        XSync(display, False);
        return window;
    }

    VstIntPtr openEditor(::Window into) {
        return plugin.dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(static_cast<std::uintptr_t>(into)));
    }
    VstIntPtr idle() { return plugin.dispatch(effEditIdle); }

    Size reportedSize() {
        ERect* rect = nullptr;
        EXPECT_EQ(plugin.dispatch(effEditGetRect, 0, 0, &rect), 1);
        if (rect == nullptr) return {};
        EXPECT_EQ(rect->top, 0);
        EXPECT_EQ(rect->left, 0);
        return {rect->right - rect->left, rect->bottom - rect->top};
    }

    std::vector<::Window> children(::Window of) {
        ::Window root = 0, parentOfIt = 0;
        ::Window* list = nullptr;
        unsigned count = 0;
        std::vector<::Window> result;
        if (XQueryTree(display, of, &root, &parentOfIt, &list, &count) != 0) result.assign(list, list + count);
        if (list != nullptr) XFree(list);
        return result;
    }

    /// The editor's window: the parent's only child.
    ::Window editorWindow() {
        const std::vector<::Window> list = children(parent);
        EXPECT_EQ(list.size(), 1u);
        return list.empty() ? 0 : list.front();
    }

    Size windowSize(::Window window) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, window, &attributes) == 0) return {};
        return {attributes.width, attributes.height};
    }

    void sendButton(int type, int x, int y) {
        XEvent event{};
        event.xbutton.type = type;
        event.xbutton.display = display;
        event.xbutton.window = editorWindow();
        event.xbutton.root = DefaultRootWindow(display);
        event.xbutton.time = CurrentTime;
        event.xbutton.x = event.xbutton.x_root = x;
        event.xbutton.y = event.xbutton.y_root = y;
        event.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
        event.xbutton.button = Button1;
        event.xbutton.same_screen = True;
        send(event);
    }
    void sendMotion(int x, int y) {
        XEvent event{};
        event.xmotion.type = MotionNotify;
        event.xmotion.display = display;
        event.xmotion.window = editorWindow();
        event.xmotion.root = DefaultRootWindow(display);
        event.xmotion.time = CurrentTime;
        event.xmotion.x = event.xmotion.x_root = x;
        event.xmotion.y = event.xmotion.y_root = y;
        event.xmotion.state = Button1Mask;
        event.xmotion.same_screen = True;
        send(event);
    }
    void send(XEvent& event) {
        // No event mask: the event goes to the client that created the window, the plug-in.
        ASSERT_NE(XSendEvent(display, event.xany.window, False, NoEventMask, &event), 0);
        XSync(display, False);
    }
    void click(int x, int y) {
        sendButton(ButtonPress, x, y);
        sendButton(ButtonRelease, x, y);
    }

    float parameter(int index) { return plugin.effect()->getParameter(plugin.effect(), index); }

    std::vector<HostCall> callsWith(VstInt32 opcode) {
        std::vector<HostCall> found;
        for (const HostCall& call : plugin.takeHostCalls())
            if (call.opcode == opcode) found.push_back(call);
        return found;
    }

    std::vector<unsigned long> pixels(::Window window, int x, int y, int width, int height) {
        std::vector<unsigned long> values;
        XImage* image = XGetImage(display, window, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                  AllPlanes, ZPixmap);
        if (image == nullptr) return values;
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column) values.push_back(XGetPixel(image, column, row));
        XDestroyImage(image);
        return values;
    }

    Display* display = nullptr;
    ::Window parent = 0;
    DirectPlugin plugin{TrelvoSynth_PATH};
};

TEST_F(SynthEditorX11Test, TheSizeChangesOnceAfterOpeningAndTheWindowHasIt) {
    EXPECT_EQ(reportedSize(), (Size{320, 200}));
    EXPECT_TRUE(children(parent).empty());
    plugin.takeHostCalls();
    ASSERT_EQ(openEditor(parent), 1);
    EXPECT_EQ(reportedSize(), (Size{400, 200}));
    const ::Window editor = editorWindow();
    XWindowAttributes attributes{};
    ASSERT_NE(XGetWindowAttributes(display, editor, &attributes), 0);
    EXPECT_EQ(attributes.x, 0);
    EXPECT_EQ(attributes.y, 0);
    EXPECT_EQ(attributes.width, 400);
    EXPECT_EQ(attributes.height, 200);
    EXPECT_EQ(attributes.map_state, IsViewable);
    EXPECT_EQ(idle(), 1);
    EXPECT_EQ(reportedSize(), (Size{400, 200})); // once: idling does not change it again
    EXPECT_TRUE(callsWith(audioMasterSizeWindow).empty());
}

TEST_F(SynthEditorX11Test, DraggingAKnobUpRaisesItsParameterAndTheHostHearsEachChange) {
    plugin.effect()->setParameter(plugin.effect(), 0, 0.5f);
    ASSERT_EQ(openEditor(parent), 1);
    idle();
    plugin.takeHostCalls();
    sendButton(ButtonPress, kVolumeKnobX + 20, kKnobY - 30); // anywhere within 40 pixels grabs it
    sendMotion(kVolumeKnobX + 25, kKnobY - 60);              // 30 pixels up
    sendButton(ButtonRelease, kVolumeKnobX + 25, kKnobY - 80);
    idle();
    EXPECT_NEAR(parameter(0), 0.75f, 1e-6f);
    const std::vector<HostCall> automated = callsWith(audioMasterAutomate);
    ASSERT_EQ(automated.size(), 2u);
    EXPECT_EQ(automated[0].index, 0);
    EXPECT_NEAR(automated[0].opt, 0.65f, 1e-6f);
    EXPECT_EQ(automated[1].index, 0);
    EXPECT_NEAR(automated[1].opt, 0.75f, 1e-6f);
    EXPECT_NEAR(parameter(1), 0.0f, 1e-6f); // the other knob stays
}

TEST_F(SynthEditorX11Test, DraggingClampsToTheRangeAndSendsOnlyChanges) {
    ASSERT_EQ(openEditor(parent), 1);
    ASSERT_EQ(parameter(1), 0.0f); // program 0 plays a sine
    plugin.takeHostCalls();
    sendButton(ButtonPress, kWaveKnobX, kKnobY);
    sendMotion(kWaveKnobX, kKnobY + 50); // already at the bottom: nothing to send
    sendMotion(kWaveKnobX, kKnobY - 300);
    sendMotion(kWaveKnobX, kKnobY - 350); // still the top
    sendButton(ButtonRelease, kWaveKnobX, kKnobY - 350);
    idle();
    EXPECT_EQ(parameter(1), 1.0f);
    EXPECT_EQ(plugin.text(effGetParamDisplay, 1), "Square");
    const std::vector<HostCall> automated = callsWith(audioMasterAutomate);
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_EQ(automated[0].index, 1);
    EXPECT_EQ(automated[0].opt, 1.0f);
}

TEST_F(SynthEditorX11Test, AClickOrASidewaysMoveChangesNothing) {
    plugin.effect()->setParameter(plugin.effect(), 0, 0.3f);
    ASSERT_EQ(openEditor(parent), 1);
    idle();
    plugin.takeHostCalls();
    click(kVolumeKnobX, kKnobY);
    sendButton(ButtonPress, kVolumeKnobX, kKnobY);
    sendMotion(kVolumeKnobX + 30, kKnobY);
    sendButton(ButtonRelease, kVolumeKnobX + 30, kKnobY);
    // Outside every knob (and below the button), a drag grabs nothing.
    sendButton(ButtonPress, 300, 110);
    sendMotion(300, 10);
    sendButton(ButtonRelease, 300, 10);
    // Moving without a grab does nothing either.
    sendMotion(kVolumeKnobX, kKnobY - 100);
    idle();
    EXPECT_NEAR(parameter(0), 0.3f, 1e-6f);
    EXPECT_TRUE(callsWith(audioMasterAutomate).empty());
    EXPECT_EQ(reportedSize(), (Size{400, 200}));
}

TEST_F(SynthEditorX11Test, TheSizeButtonTogglesBetweenTwoSizesAndAsksTheHostFirst) {
    ASSERT_EQ(openEditor(parent), 1);
    idle();
    plugin.takeHostCalls();
    click(kSizeButtonX, kSizeButtonY);
    idle();
    std::vector<HostCall> requests = callsWith(audioMasterSizeWindow);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].index, 480);
    EXPECT_EQ(requests[0].value, 260);
    EXPECT_EQ(reportedSize(), (Size{480, 260}));
    EXPECT_EQ(windowSize(editorWindow()), (Size{480, 260}));

    click(kSizeButtonX, kSizeButtonY); // the button stays where it was
    idle();
    requests = callsWith(audioMasterSizeWindow);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].index, 400);
    EXPECT_EQ(requests[0].value, 200);
    EXPECT_EQ(reportedSize(), (Size{400, 200}));
    EXPECT_EQ(windowSize(editorWindow()), (Size{400, 200}));
}

TEST_F(SynthEditorX11Test, TheWindowShowsMoreThanOneFlatColour) {
    ASSERT_EQ(openEditor(parent), 1);
    idle();
    const std::vector<unsigned long> all = pixels(editorWindow(), 0, 0, 400, 200);
    ASSERT_EQ(all.size(), 400u * 200u);
    const std::set<unsigned long> distinct(all.begin(), all.end());
    EXPECT_GT(distinct.size(), 4u);
}

TEST_F(SynthEditorX11Test, AValueTheHostSetsIsRedrawnAtTheNextIdle) {
    ASSERT_EQ(openEditor(parent), 1);
    idle();
    const ::Window editor = editorWindow();
    auto volumeKnob = [&] { return pixels(editor, kVolumeKnobX - 40, kKnobY - 40, 80, 80); };
    auto waveKnob = [&] { return pixels(editor, kWaveKnobX - 40, kKnobY - 40, 80, 80); };
    const std::vector<unsigned long> volumeBefore = volumeKnob();
    const std::vector<unsigned long> waveBefore = waveKnob();
    ASSERT_FALSE(volumeBefore.empty());

    plugin.effect()->setParameter(plugin.effect(), 0, 1.0f);
    EXPECT_EQ(volumeKnob(), volumeBefore); // drawing waits for the idle call
    idle();
    EXPECT_NE(volumeKnob(), volumeBefore);
    EXPECT_EQ(waveKnob(), waveBefore);

    plugin.dispatch(effSetProgram, 0, 1); // "A001 Saw": the wave knob moves to the middle
    idle();
    EXPECT_NE(waveKnob(), waveBefore);
}

TEST_F(SynthEditorX11Test, ClosingDestroysTheWindowAndTheEditorOpensAgain) {
    ASSERT_EQ(openEditor(parent), 1);
    click(kSizeButtonX, kSizeButtonY);
    idle();
    ASSERT_EQ(reportedSize(), (Size{480, 260}));
    EXPECT_EQ(plugin.dispatch(effEditClose), 1);
    XSync(display, False);
    EXPECT_TRUE(children(parent).empty());
    EXPECT_EQ(reportedSize(), (Size{480, 260})); // the last size stays
    EXPECT_EQ(idle(), 0);
    EXPECT_EQ(plugin.dispatch(effEditClose), 1); // twice is harmless

    ASSERT_EQ(openEditor(parent), 1);
    EXPECT_EQ(reportedSize(), (Size{400, 200})); // every opening starts small
    EXPECT_EQ(windowSize(editorWindow()), (Size{400, 200}));
    plugin.effect()->setParameter(plugin.effect(), 0, 0.5f);
    plugin.takeHostCalls();
    sendButton(ButtonPress, kVolumeKnobX, kKnobY);
    sendButton(ButtonRelease, kVolumeKnobX, kKnobY - 20);
    EXPECT_EQ(idle(), 1);
    EXPECT_NEAR(parameter(0), 0.6f, 1e-6f);
    EXPECT_EQ(callsWith(audioMasterAutomate).size(), 1u);
}

TEST_F(SynthEditorX11Test, OpeningAgainWhileOpenReplacesTheWindow) {
    ASSERT_EQ(openEditor(parent), 1);
    ASSERT_EQ(children(parent).size(), 1u);
    const ::Window otherParent = createParent();
    ASSERT_EQ(openEditor(otherParent), 1);
    XSync(display, False);
    EXPECT_TRUE(children(parent).empty());
    EXPECT_EQ(children(otherParent).size(), 1u);
    plugin.dispatch(effEditClose);
    XSync(display, False);
    EXPECT_TRUE(children(otherParent).empty());
    XDestroyWindow(display, otherParent);
}

TEST_F(SynthEditorX11Test, AParentThatIsNotAWindowIsRefused) {
    EXPECT_EQ(openEditor(0), 0);
    // An id the server gave out and took back.
    const ::Window gone = createParent();
    XDestroyWindow(display, gone);
    XSync(display, False);
    EXPECT_EQ(openEditor(gone), 0);
    EXPECT_EQ(idle(), 0);
    EXPECT_EQ(reportedSize(), (Size{320, 200}));
    EXPECT_TRUE(children(parent).empty());
    EXPECT_EQ(openEditor(parent), 1); // and nothing was left behind that stops a real one
    EXPECT_EQ(children(parent).size(), 1u);
}

TEST_F(SynthEditorX11Test, AParentDestroyedBeforeClosingTakesTheWindowWithIt) {
    ASSERT_EQ(openEditor(parent), 1);
    idle();
    XDestroyWindow(display, parent);
    XSync(display, False);
    EXPECT_EQ(idle(), 1); // learns that its window is gone, draws nothing
    EXPECT_EQ(plugin.dispatch(effEditClose), 1);
    parent = createParent();
    ASSERT_EQ(openEditor(parent), 1);
    EXPECT_EQ(windowSize(editorWindow()), (Size{400, 200}));
}

// Outside the fixture: the test host allows one plug-in at a time.
TEST(SynthEditorX11, ClosingThePlugInClosesAnOpenEditor) {
    Display* display = openDisplay();
    ASSERT_NE(display, nullptr);
    const ::Window parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 400, 200, 0, 0, 0);
    XMapWindow(display, parent);
    XSync(display, False);
    auto numChildren = [&] {
        ::Window root = 0, itsParent = 0;
        ::Window* list = nullptr;
        unsigned count = 0;
        XQueryTree(display, parent, &root, &itsParent, &list, &count);
        if (list != nullptr) XFree(list);
        return count;
    };
    {
        DirectPlugin plugin(TrelvoSynth_PATH);
        ASSERT_TRUE(plugin.loaded()) << plugin.error();
        plugin.open();
        ASSERT_EQ(plugin.dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(static_cast<std::uintptr_t>(parent))), 1);
        EXPECT_EQ(numChildren(), 1u);
    } // effClose without effEditClose
    XSync(display, False);
    EXPECT_EQ(numChildren(), 0u);
    XDestroyWindow(display, parent);
    XCloseDisplay(display);
}

} // namespace
} // namespace trelvo::test
