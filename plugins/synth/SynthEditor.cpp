#include "synth/SynthEditor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "common/X11Editor.h"

namespace trelvo::plugins {

namespace {

constexpr int kSizeButtonX = 328;
constexpr int kSizeButtonY = 8;
constexpr int kSizeButtonWidth = 60;
constexpr int kSizeButtonHeight = 22;
constexpr int kKnobFirstX = 70;
constexpr int kKnobStepX = 110;
constexpr int kKnobY = 110;
constexpr int kKnobGrab = 40;
constexpr int kKnobRadius = 30;
constexpr int kHeaderHeight = 38;
// The arc runs from 225 degrees (lower left) clockwise through the top to -45 degrees.
constexpr double kArcStartDegrees = 225.0;
constexpr double kArcSweepDegrees = 270.0;

enum class Colour { Background, Header, KnobBody, Track, Accent, Text, DimText, Count };

using x11::Rgb;

constexpr Rgb kPalette[] = {
    {0x1c, 0x1e, 0x24}, // Background
    {0x26, 0x29, 0x31}, // Header
    {0x31, 0x35, 0x3f}, // KnobBody
    {0x3d, 0x42, 0x4e}, // Track
    {0x4f, 0xb3, 0xff}, // Accent
    {0xe6, 0xe8, 0xec}, // Text
    {0x95, 0x9c, 0xa8}, // DimText
};
static_assert(std::size(kPalette) == static_cast<std::size_t>(Colour::Count));

int knobCentreX(int index) {
    return kKnobFirstX + kKnobStepX * index;
}

} // namespace

struct SynthEditor::Native {
    Display* display = nullptr;
    ::Window window = 0; // 0 once the server destroyed it along with its parent
    GC gc = nullptr;
    XFontStruct* font = nullptr;
    Pixmap buffer = 0;
    int bufferWidth = 0;
    int bufferHeight = 0;
    unsigned long colours[static_cast<int>(Colour::Count)] = {};
    int width = kSmallWidth;
    int height = kSmallHeight;
    bool isDirty = true;

    int dragIndex = -1;
    int dragStartY = 0;
    float dragStartValue = 0.0f;

    // What the last drawing showed.
    std::vector<float> drawnValues;
    std::vector<std::string> drawnTexts;
    std::string drawnProgram;

    unsigned long colour(Colour which) const { return colours[static_cast<int>(which)]; }

    int textWidth(const std::string& text) const {
        const int length = static_cast<int>(text.size());
        return font != nullptr ? XTextWidth(font, text.c_str(), length) : 6 * length;
    }

    void drawText(Drawable target, const std::string& text, int x, int baseline, Colour which) {
        XSetForeground(display, gc, colour(which));
        XDrawString(display, target, gc, x, baseline, text.c_str(), static_cast<int>(text.size()));
    }

    void drawCentredText(Drawable target, const std::string& text, int centreX, int baseline, Colour which) {
        drawText(target, text, centreX - textWidth(text) / 2, baseline, which);
    }
};

SynthEditor::SynthEditor(SynthEditorController& controller) : controller(controller) {}

SynthEditor::~SynthEditor() {
    close();
}

bool SynthEditor::isOpen() const noexcept {
    return native != nullptr;
}

bool SynthEditor::open(unsigned long parentWindow) {
    close();
    if (parentWindow == 0) return false;
    Display* display = x11::openDisplay("TrelvoSynth");
    if (display == nullptr) return false;
    auto created = std::make_unique<Native>();
    created->display = display;
    bool isCreated = false;
    {
        x11::ErrorTrap trap(display);
        if (x11::isWindow(display, parentWindow, trap)) {
            x11::allocateColours(display, kPalette, static_cast<int>(Colour::Count), created->colours);
            created->window =
                x11::createChild(display, parentWindow, kSmallWidth, kSmallHeight, created->colour(Colour::Background));
            created->gc = XCreateGC(display, created->window, 0, nullptr);
            created->font = XLoadQueryFont(display, "-*-helvetica-medium-r-normal--12-*-*-*-*-*-iso8859-1");
            if (created->font == nullptr) created->font = XLoadQueryFont(display, "fixed");
            if (created->font != nullptr) XSetFont(display, created->gc, created->font->fid);
            XMapWindow(display, created->window);
            isCreated = !trap.failed();
        }
    }
    native = std::move(created);
    if (!isCreated) {
        std::fprintf(stderr, "TrelvoSynth: no editor, the parent 0x%lx is not a window\n", parentWindow);
        close();
        return false;
    }
    currentRect = ERect{0, 0, kSmallHeight, kSmallWidth};
    return true;
}

void SynthEditor::close() {
    if (!native) return;
    Display* display = native->display;
    {
        x11::ErrorTrap trap(display);
        if (native->window != 0) XDestroyWindow(display, native->window);
        if (native->buffer != 0) XFreePixmap(display, native->buffer);
        if (native->font != nullptr) XFreeFont(display, native->font);
        if (native->gc != nullptr) XFreeGC(display, native->gc);
    }
    XCloseDisplay(display);
    native.reset();
}

void SynthEditor::idle() {
    if (!native) return;
    x11::ErrorTrap trap(native->display);
    handleEvents();
    if (native->window != 0 && needsPaint()) paint();
}

void SynthEditor::handleEvents() {
    Display* display = native->display;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (native->window == 0 || event.xany.window != native->window) continue;
        switch (event.type) {
        case Expose: native->isDirty = true; break;
        case ConfigureNotify:
            // The host may size the window itself; the rectangle follows the window.
            if (event.xconfigure.width != native->width || event.xconfigure.height != native->height) {
                native->width = event.xconfigure.width;
                native->height = event.xconfigure.height;
                currentRect = ERect{0, 0, static_cast<VstInt16>(native->height), static_cast<VstInt16>(native->width)};
                native->isDirty = true;
            }
            break;
        case DestroyNotify: native->window = 0; break;
        case ButtonPress:
            if (event.xbutton.button == Button1) press(event.xbutton.x, event.xbutton.y);
            break;
        case MotionNotify:
            if (native->dragIndex >= 0) drag(event.xmotion.y);
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1 && native->dragIndex >= 0) {
                drag(event.xbutton.y);
                native->dragIndex = -1;
            }
            break;
        default: break;
        }
    }
}

void SynthEditor::press(int x, int y) {
    if (x11::isInside(x, y, kSizeButtonX, kSizeButtonY, kSizeButtonWidth, kSizeButtonHeight)) {
        toggleSize();
        return;
    }
    for (int i = 0; i < controller.numKnobs(); ++i) {
        if (std::abs(x - knobCentreX(i)) <= kKnobGrab && std::abs(y - kKnobY) <= kKnobGrab) {
            native->dragIndex = i;
            native->dragStartY = y;
            native->dragStartValue = controller.knobValue(i);
            return;
        }
    }
}

void SynthEditor::drag(int y) {
    const int index = native->dragIndex;
    const float moved = static_cast<float>(native->dragStartY - y) / static_cast<float>(kDragRange);
    const float value = std::clamp(native->dragStartValue + moved, 0.0f, 1.0f);
    if (value != controller.knobValue(index)) controller.knobEdited(index, value);
}

void SynthEditor::toggleSize() {
    const bool isLarge = native->width == kLargeWidth && native->height == kLargeHeight;
    const int width = isLarge ? kSmallWidth : kLargeWidth;
    const int height = isLarge ? kSmallHeight : kLargeHeight;
    controller.sizeRequested(width, height);
    resize(width, height);
}

void SynthEditor::resize(int width, int height) {
    if (native->window != 0)
        XResizeWindow(native->display, native->window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    native->width = width;
    native->height = height;
    currentRect = ERect{0, 0, static_cast<VstInt16>(height), static_cast<VstInt16>(width)};
    native->isDirty = true;
}

bool SynthEditor::needsPaint() const {
    if (native->isDirty || controller.programName() != native->drawnProgram) return true;
    const int numKnobs = controller.numKnobs();
    if (static_cast<int>(native->drawnValues.size()) != numKnobs) return true;
    for (int i = 0; i < numKnobs; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (controller.knobValue(i) != native->drawnValues[at] || controller.knobDisplay(i) != native->drawnTexts[at])
            return true;
    }
    return false;
}

void SynthEditor::paint() {
    Native& n = *native;
    Display* display = n.display;
    // Drawn off screen first and copied in one piece, so a redraw never flickers.
    if (n.buffer == 0 || n.bufferWidth != n.width || n.bufferHeight != n.height) {
        if (n.buffer != 0) XFreePixmap(display, n.buffer);
        n.buffer = XCreatePixmap(display, n.window, static_cast<unsigned>(n.width), static_cast<unsigned>(n.height),
                                 static_cast<unsigned>(DefaultDepth(display, DefaultScreen(display))));
        n.bufferWidth = n.width;
        n.bufferHeight = n.height;
    }
    const Drawable target = n.buffer;
    GC gc = n.gc;
    const auto width = static_cast<unsigned>(n.width);

    XSetForeground(display, gc, n.colour(Colour::Background));
    XFillRectangle(display, target, gc, 0, 0, width, static_cast<unsigned>(n.height));
    XSetForeground(display, gc, n.colour(Colour::Header));
    XFillRectangle(display, target, gc, 0, 0, width, kHeaderHeight);

    const std::string title = "TrelvoSynth";
    const std::string programName = controller.programName();
    n.drawText(target, title, 12, 24, Colour::Text);
    n.drawText(target, programName, 12 + n.textWidth(title) + 14, 24, Colour::DimText);

    XSetForeground(display, gc, n.colour(Colour::Track));
    XFillRectangle(display, target, gc, kSizeButtonX, kSizeButtonY, kSizeButtonWidth, kSizeButtonHeight);
    XSetForeground(display, gc, n.colour(Colour::Accent));
    XDrawRectangle(display, target, gc, kSizeButtonX, kSizeButtonY, kSizeButtonWidth - 1, kSizeButtonHeight - 1);
    n.drawCentredText(target, "Size", kSizeButtonX + kSizeButtonWidth / 2, kSizeButtonY + 15, Colour::Text);

    const int numKnobs = controller.numKnobs();
    n.drawnValues.assign(static_cast<std::size_t>(numKnobs), 0.0f);
    n.drawnTexts.assign(static_cast<std::size_t>(numKnobs), std::string());
    constexpr int diameter = 2 * kKnobRadius;
    constexpr int bodyInset = 7;
    for (int i = 0; i < numKnobs; ++i) {
        const float value = controller.knobValue(i);
        const std::string text = controller.knobDisplay(i);
        n.drawnValues[static_cast<std::size_t>(i)] = value;
        n.drawnTexts[static_cast<std::size_t>(i)] = text;
        const int centreX = knobCentreX(i);
        const int left = centreX - kKnobRadius;
        const int top = kKnobY - kKnobRadius;

        n.drawCentredText(target, controller.knobName(i), centreX, top - 10, Colour::Text);

        XSetForeground(display, gc, n.colour(Colour::KnobBody));
        XFillArc(display, target, gc, left + bodyInset, top + bodyInset, diameter - 2 * bodyInset,
                 diameter - 2 * bodyInset, 0, 360 * 64);

        XSetLineAttributes(display, gc, 4, LineSolid, CapRound, JoinRound);
        XSetForeground(display, gc, n.colour(Colour::Track));
        XDrawArc(display, target, gc, left, top, diameter, diameter, static_cast<int>(kArcStartDegrees * 64),
                 static_cast<int>(-kArcSweepDegrees * 64));
        const int sweep = static_cast<int>(std::lround(-kArcSweepDegrees * 64 * static_cast<double>(value)));
        if (sweep != 0) {
            XSetForeground(display, gc, n.colour(Colour::Accent));
            XDrawArc(display, target, gc, left, top, diameter, diameter, static_cast<int>(kArcStartDegrees * 64),
                     sweep);
        }

        const double angle = (kArcStartDegrees - kArcSweepDegrees * static_cast<double>(value)) * M_PI / 180.0;
        const double inner = 6.0;
        const double outer = kKnobRadius - bodyInset - 4.0;
        XSetLineAttributes(display, gc, 3, LineSolid, CapRound, JoinRound);
        XSetForeground(display, gc, n.colour(Colour::Text));
        XDrawLine(display, target, gc, centreX + static_cast<int>(std::lround(std::cos(angle) * inner)),
                  kKnobY - static_cast<int>(std::lround(std::sin(angle) * inner)),
                  centreX + static_cast<int>(std::lround(std::cos(angle) * outer)),
                  kKnobY - static_cast<int>(std::lround(std::sin(angle) * outer)));
        XSetLineAttributes(display, gc, 0, LineSolid, CapButt, JoinMiter);

        n.drawCentredText(target, text, centreX, kKnobY + kKnobRadius + 20, Colour::DimText);
    }
    n.drawnProgram = programName;

    XCopyArea(display, target, n.window, gc, 0, 0, width, static_cast<unsigned>(n.height), 0, 0);
    n.isDirty = false;
}

} // namespace trelvo::plugins
