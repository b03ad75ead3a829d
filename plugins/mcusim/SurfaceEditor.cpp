#include "mcusim/SurfaceEditor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "common/X11Editor.h"

namespace trelvo::plugins {

namespace {

using mcusim::kFaderMax;
using mcusim::kFaders;
using mcusim::kLineLength;
using mcusim::kStrips;
namespace key = mcusim::key;

// ---- Layout, in pixels of the editor window ----

// The strips: 64 pixels each from x 12; the display's seven characters of a strip sit above
// it in cells of 9 pixels.
constexpr int kStripLeft = 12;
constexpr int kStripWidth = 64;
constexpr int kCellWidth = 9;
constexpr int kDisplayTop = 6;
constexpr int kDisplayHeight = 46;
// V-Pot centre and its ring of 11 lights from lower left (225 degrees) clockwise to lower
// right (-45 degrees).
constexpr int kVPotY = 86;
constexpr int kKnobRadius = 9;
constexpr int kRingRadius = 17;
constexpr int kRingLight = 5;
// Four buttons per strip, two by two.
constexpr int kStripButtonTop = 114;
constexpr int kStripButtonWidth = 28;
constexpr int kStripButtonHeight = 17;
constexpr int kStripButtonGap = 3;
// Faders: the cap's centre runs from kFaderBottom (0) up to kFaderTop (1023).
constexpr int kFaderTop = 170;
constexpr int kFaderBottom = 306;
constexpr int kCapWidth = 28;
constexpr int kCapHeight = 14;
constexpr int kFaderOffsetX = 21; // track centre from the strip's left
constexpr int kMeterOffsetX = 44;
constexpr int kMeterWidth = 12;
// The master fader's column and the section right of it.
constexpr int kMasterLeft = 532;
constexpr int kMasterWidth = 58;
constexpr int kRightLeft = 600;
constexpr int kRightWidth = 152;
constexpr int kJogX = kRightLeft + kRightWidth / 2;
constexpr int kJogY = 288;
constexpr int kJogRadius = 34;
constexpr int kJogDragStep = 6; // pixels of horizontal drag per jog step

// Half a second per blink cycle.
constexpr int kBlinkMilliseconds = 250;
constexpr int kWheelFaderStep = 8;

enum class Colour {
    Background,
    Strip,
    Frame,
    DisplayBack,
    DisplayText,
    SegmentBack,
    Segment,
    ButtonOff,
    ButtonText,
    DimText,
    LitText,
    Red,
    Amber,
    Orange,
    Blue,
    Green,
    RingOff,
    RingOn,
    Knob,
    Track,
    Cap,
    CapTouched,
    MeterOff,
    Count
};

using x11::Rgb;

constexpr Rgb kPalette[] = {
    {0x17, 0x19, 0x1e}, // Background
    {0x22, 0x25, 0x2c}, // Strip
    {0x3d, 0x42, 0x4e}, // Frame
    {0x0a, 0x1d, 0x3d}, // DisplayBack
    {0xd6, 0xea, 0xff}, // DisplayText
    {0x1c, 0x08, 0x08}, // SegmentBack
    {0xff, 0x40, 0x30}, // Segment
    {0x38, 0x3d, 0x48}, // ButtonOff
    {0xe6, 0xe8, 0xec}, // ButtonText
    {0x95, 0x9c, 0xa8}, // DimText
    {0x10, 0x10, 0x12}, // LitText
    {0xff, 0x3b, 0x30}, // Red
    {0xff, 0xd2, 0x3f}, // Amber
    {0xff, 0x8a, 0x1f}, // Orange
    {0x4f, 0xb3, 0xff}, // Blue
    {0x3d, 0xdc, 0x6a}, // Green
    {0x3a, 0x2c, 0x20}, // RingOff
    {0xff, 0xa0, 0x30}, // RingOn
    {0x5a, 0x60, 0x6c}, // Knob
    {0x08, 0x09, 0x0b}, // Track
    {0xd8, 0xdc, 0xe4}, // Cap
    {0x4f, 0xb3, 0xff}, // CapTouched
    {0x2a, 0x2d, 0x33}, // MeterOff
};
static_assert(std::size(kPalette) == static_cast<std::size_t>(Colour::Count));

/// A button with an LED: the note it sends and the LED the host lights.
struct Button {
    int x, y, width, height;
    int key;
    const char* label;
    Colour lit;
};

int stripLeft(int strip) {
    return strip < kStrips ? kStripLeft + kStripWidth * strip : kMasterLeft;
}
int faderX(int strip) {
    return strip < kStrips ? stripLeft(strip) + kFaderOffsetX : kMasterLeft + kMasterWidth / 2;
}
int vpotX(int strip) {
    return stripLeft(strip) + kStripWidth / 2;
}
int capY(int position) {
    return kFaderBottom - (kFaderBottom - kFaderTop) * position / kFaderMax;
}
int positionAt(int y) {
    return std::clamp((kFaderBottom - y) * kFaderMax / (kFaderBottom - kFaderTop), 0, kFaderMax);
}

std::vector<Button> makeButtons() {
    std::vector<Button> buttons;
    const char* stripLabels[4] = {"REC", "SOLO", "MUTE", "SEL"};
    const int stripKeys[4] = {key::kRecord, key::kSolo, key::kMute, key::kSelect};
    const Colour stripColours[4] = {Colour::Red, Colour::Amber, Colour::Orange, Colour::Blue};
    for (int s = 0; s < kStrips; ++s) {
        for (int b = 0; b < 4; ++b) {
            const int x = stripLeft(s) + 3 + (b % 2) * (kStripButtonWidth + kStripButtonGap);
            const int y = kStripButtonTop + (b / 2) * (kStripButtonHeight + kStripButtonGap);
            buttons.push_back(
                {x, y, kStripButtonWidth, kStripButtonHeight, stripKeys[b] + s, stripLabels[b], stripColours[b]});
        }
    }
    // Assignment pages and banks, four to a row.
    const char* rowLabels[2][4] = {{"CHN", "GRP", "OUT", "PLG"}, {"<BANK", "BANK>", "<CH", "CH>"}};
    const int rowKeys[2][4] = {{key::kPageChannels, key::kPageGroups, key::kPageOutputs, key::kPagePlugins},
                               {key::kBankLeft, key::kBankRight, key::kChannelLeft, key::kChannelRight}};
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < 4; ++i)
            buttons.push_back({kRightLeft + i * 39, 62 + row * 24, 35, 19, rowKeys[row][i], rowLabels[row][i],
                               row == 0 ? Colour::Green : Colour::Amber});
    buttons.push_back({kRightLeft, 110, 48, 19, key::kSave, "SAVE", Colour::Red});
    buttons.push_back({kRightLeft + 52, 110, 48, 19, key::kCancel, "CANCEL", Colour::Amber});
    buttons.push_back({kRightLeft + 104, 110, 48, 19, key::kEnter, "ENTER", Colour::Green});
    // Cursor keys as a cross; their labels are drawn as arrows.
    buttons.push_back({kJogX - 17, 134, 34, 18, key::kCursorUp, "", Colour::Blue});
    buttons.push_back({kJogX - 55, 155, 34, 18, key::kCursorLeft, "", Colour::Blue});
    buttons.push_back({kJogX + 21, 155, 34, 18, key::kCursorRight, "", Colour::Blue});
    buttons.push_back({kJogX - 17, 176, 34, 18, key::kCursorDown, "", Colour::Blue});
    const char* transportLabels[5] = {"REW", "FF", "STOP", "PLAY", "REC"};
    const int transportKeys[5] = {key::kRewind, key::kFastForward, key::kStop, key::kPlay, key::kRecordTransport};
    const Colour transportColours[5] = {Colour::Blue, Colour::Blue, Colour::Blue, Colour::Green, Colour::Red};
    for (int i = 0; i < 5; ++i)
        buttons.push_back(
            {kRightLeft + i * 31, 202, 28, 22, transportKeys[i], transportLabels[i], transportColours[i]});
    return buttons;
}

long long nowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

XFontStruct* loadFont(Display* display, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (XFontStruct* font = XLoadQueryFont(display, name)) return font;
    return nullptr;
}

} // namespace

struct SurfaceEditor::Native {
    Display* display = nullptr;
    ::Window window = 0; // 0 once the server destroyed it along with its parent
    GC gc = nullptr;
    XFontStruct* labelFont = nullptr;
    XFontStruct* displayFont = nullptr;
    XFontStruct* segmentFont = nullptr;
    Pixmap buffer = 0;
    unsigned long colours[static_cast<int>(Colour::Count)] = {};
    bool isDirty = true;
    std::vector<Button> buttons = makeButtons();

    mcusim::SurfaceState state{};
    mcusim::SurfaceState drawn{};
    bool drawnBlink = false;

    int pressedKey = -1; // the button held with button 1
    int dragFader = -1;  // the fader held with button 1
    int dragPosition = 0;
    int dragGrabOffset = 0; // pointer y minus the cap's centre at the press
    bool jogDragging = false;
    int jogLastX = 0;
    int wheelFader = -1; // the fader the wheel moved last, and where it left it
    int wheelPosition = 0;
    long long wheelAt = 0;

    unsigned long colour(Colour which) const { return colours[static_cast<int>(which)]; }

    void setFont(XFontStruct* font) {
        if (font != nullptr) XSetFont(display, gc, font->fid);
    }

    int textWidth(XFontStruct* font, const char* text) const {
        const int length = static_cast<int>(std::strlen(text));
        return font != nullptr ? XTextWidth(font, text, length) : 6 * length;
    }

    void drawText(XFontStruct* font, const char* text, int x, int baseline, Colour which) {
        setFont(font);
        XSetForeground(display, gc, colour(which));
        XDrawString(display, buffer, gc, x, baseline, text, static_cast<int>(std::strlen(text)));
    }

    void drawCentred(XFontStruct* font, const char* text, int centreX, int baseline, Colour which) {
        drawText(font, text, centreX - textWidth(font, text) / 2, baseline, which);
    }

    void fill(Colour which, int x, int y, int width, int height) {
        XSetForeground(display, gc, colour(which));
        XFillRectangle(display, buffer, gc, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
    }

    void frame(Colour which, int x, int y, int width, int height) {
        XSetForeground(display, gc, colour(which));
        XDrawRectangle(display, buffer, gc, x, y, static_cast<unsigned>(width - 1), static_cast<unsigned>(height - 1));
    }

    void disc(Colour which, int x, int y, int radius) {
        XSetForeground(display, gc, colour(which));
        XFillArc(display, buffer, gc, x - radius, y - radius, static_cast<unsigned>(2 * radius),
                 static_cast<unsigned>(2 * radius), 0, 360 * 64);
    }

    /// A segment display's digits (codes in reading order), each lit dot at the foot of its
    /// digit. The segment font is used as it is when it is large enough, else whatever font
    /// there is with every pixel doubled (a server with only "fixed" has nothing larger).
    void drawDigits(const std::uint8_t* codes, int count, int centreX, int top, Colour which) {
        char digits[16];
        count = std::min(count, static_cast<int>(sizeof digits) - 1);
        for (int i = 0; i < count; ++i) digits[i] = mcusim::SurfaceModel::segmentChar(codes[i]);
        digits[count] = '\0';
        XFontStruct* font = segmentFont;
        const int ascent = font != nullptr ? font->ascent : 10;
        const int height = font != nullptr ? font->ascent + font->descent : 13;
        const int scale = height >= 16 ? 1 : 2;
        // Each character in a cell of its own, as wide as the widest of them.
        int glyphWidth = 1;
        for (int i = 0; i < count; ++i)
            glyphWidth = std::max(glyphWidth, font != nullptr ? XTextWidth(font, digits + i, 1) : 6);
        const int gap = scale + 1; // room for the dots
        const int cell = glyphWidth * scale + gap;
        const int left = centreX - count * cell / 2;
        XSetForeground(display, gc, colour(which));
        if (scale == 1) {
            setFont(font);
            for (int i = 0; i < count; ++i)
                XDrawString(display, buffer, gc, left + i * cell, top + ascent, digits + i, 1);
        } else {
            const int width = std::max(1, glyphWidth * count);
            const Pixmap scratch =
                XCreatePixmap(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height), 1);
            GC mask = XCreateGC(display, scratch, 0, nullptr);
            XSetForeground(display, mask, 0);
            XFillRectangle(display, scratch, mask, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
            XSetForeground(display, mask, 1);
            if (font != nullptr) XSetFont(display, mask, font->fid);
            for (int i = 0; i < count; ++i) XDrawString(display, scratch, mask, i * glyphWidth, ascent, digits + i, 1);
            XImage* image = XGetImage(display, scratch, 0, 0, static_cast<unsigned>(width),
                                      static_cast<unsigned>(height), 1, XYPixmap);
            if (image != nullptr) {
                std::vector<XRectangle> pixels;
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x)
                        if (XGetPixel(image, x, y) != 0)
                            pixels.push_back(
                                XRectangle{static_cast<short>(left + x / glyphWidth * cell + x % glyphWidth * scale),
                                           static_cast<short>(top + y * scale), static_cast<unsigned short>(scale),
                                           static_cast<unsigned short>(scale)});
                XFillRectangles(display, buffer, gc, pixels.data(), static_cast<int>(pixels.size()));
                XDestroyImage(image);
            }
            XFreeGC(display, mask);
            XFreePixmap(display, scratch);
        }
        const int dot = 2 * scale;
        for (int i = 0; i < count; ++i)
            if ((codes[i] & 0x40) != 0)
                XFillRectangle(display, buffer, gc, left + (i + 1) * cell - gap, top + ascent * scale - dot,
                               static_cast<unsigned>(dot), static_cast<unsigned>(dot));
    }

    bool isLit(int key, bool blinkPhase) const {
        const std::uint8_t led = state.leds[key];
        return led == mcusim::kLedOn || (led == mcusim::kLedBlink && blinkPhase);
    }
};

SurfaceEditor::SurfaceEditor(SurfaceEditorController& controller) : controller(controller) {}

SurfaceEditor::~SurfaceEditor() {
    close();
}

bool SurfaceEditor::isOpen() const noexcept {
    return native != nullptr;
}

bool SurfaceEditor::open(unsigned long parentWindow) {
    close();
    if (parentWindow == 0) return false;
    Display* display = x11::openDisplay("MCUsim");
    if (display == nullptr) return false;
    auto created = std::make_unique<Native>();
    created->display = display;
    bool isCreated = false;
    {
        x11::ErrorTrap trap(display);
        if (x11::isWindow(display, parentWindow, trap)) {
            const int screen = DefaultScreen(display);
            x11::allocateColours(display, kPalette, static_cast<int>(Colour::Count), created->colours);
            created->window =
                x11::createChild(display, parentWindow, kWidth, kHeight, created->colour(Colour::Background));
            created->gc = XCreateGC(display, created->window, 0, nullptr);
            created->labelFont =
                loadFont(display, {"-misc-fixed-medium-r-semicondensed--13-*-*-*-*-*-iso8859-1", "6x13", "fixed"});
            created->displayFont =
                loadFont(display, {"-misc-fixed-bold-r-normal--15-*-*-*-*-*-iso8859-1", "9x15bold", "9x15", "fixed"});
            created->segmentFont =
                loadFont(display, {"-misc-fixed-bold-r-normal--18-*-*-*-*-*-iso8859-1", "9x15bold", "fixed"});
            created->buffer = XCreatePixmap(display, created->window, kWidth, kHeight,
                                            static_cast<unsigned>(DefaultDepth(display, screen)));
            XMapWindow(display, created->window);
            isCreated = !trap.failed();
        }
    }
    native = std::move(created);
    if (!isCreated) {
        std::fprintf(stderr, "MCUsim: no editor, the parent 0x%lx is not a window\n", parentWindow);
        close();
        return false;
    }
    return true;
}

void SurfaceEditor::close() {
    if (!native) return;
    Display* display = native->display;
    {
        x11::ErrorTrap trap(display);
        if (native->window != 0) XDestroyWindow(display, native->window);
        if (native->buffer != 0) XFreePixmap(display, native->buffer);
        for (XFontStruct* font : {native->labelFont, native->displayFont, native->segmentFont})
            if (font != nullptr) XFreeFont(display, font);
        if (native->gc != nullptr) XFreeGC(display, native->gc);
    }
    XCloseDisplay(display);
    native.reset();
}

void SurfaceEditor::idle() {
    if (!native) return;
    x11::ErrorTrap trap(native->display);
    controller.readSurface(native->state);
    handleEvents();
    if (native->window != 0 && needsPaint()) paint();
}

void SurfaceEditor::action(mcusim::McuSimCode code, int a, int b) {
    controller.surfaceAction(mcusim::McuSimCommand{code, a, b});
}

void SurfaceEditor::handleEvents() {
    Display* display = native->display;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (native->window == 0 || event.xany.window != native->window) continue;
        switch (event.type) {
        case Expose: native->isDirty = true; break;
        case DestroyNotify: native->window = 0; break;
        case ButtonPress:
            if (event.xbutton.button == Button1) press(event.xbutton.x, event.xbutton.y);
            if (event.xbutton.button == Button4) wheel(event.xbutton.x, event.xbutton.y, 1);
            if (event.xbutton.button == Button5) wheel(event.xbutton.x, event.xbutton.y, -1);
            break;
        case MotionNotify:
            if (native->dragFader >= 0) drag(event.xmotion.y);
            if (native->jogDragging) {
                const int steps = (event.xmotion.x - native->jogLastX) / kJogDragStep;
                if (steps != 0) {
                    action(mcusim::kMcuSimJog, steps);
                    native->jogLastX += steps * kJogDragStep;
                }
            }
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1) {
                if (native->dragFader >= 0) drag(event.xbutton.y);
                release();
            }
            break;
        default: break;
        }
    }
}

void SurfaceEditor::press(int x, int y) {
    Native& n = *native;
    for (const Button& button : n.buttons) {
        if (x11::isInside(x, y, button.x, button.y, button.width, button.height)) {
            n.pressedKey = button.key;
            action(mcusim::kMcuSimPress, button.key);
            n.isDirty = true;
            return;
        }
    }
    for (int s = 0; s < kStrips; ++s) {
        const int dx = x - vpotX(s);
        const int dy = y - kVPotY;
        if (dx * dx + dy * dy <= kKnobRadius * kKnobRadius + 16) {
            n.pressedKey = key::kVPotPush + s;
            action(mcusim::kMcuSimPress, n.pressedKey);
            n.isDirty = true;
            return;
        }
    }
    for (int f = 0; f < kFaders; ++f) {
        const int centreX = faderX(f);
        if (std::abs(x - centreX) <= kCapWidth / 2 && y >= kFaderTop - kCapHeight && y <= kFaderBottom + kCapHeight) {
            const int position = n.state.faders[f];
            const int cap = capY(position);
            // A press on the cap keeps the grip where it is; elsewhere the cap jumps there.
            n.dragGrabOffset = std::abs(y - cap) <= kCapHeight / 2 ? y - cap : 0;
            n.dragFader = f;
            n.dragPosition = position;
            action(mcusim::kMcuSimTouch, f, 1);
            drag(y);
            n.isDirty = true;
            return;
        }
    }
    const int dx = x - kJogX;
    const int dy = y - kJogY;
    if (dx * dx + dy * dy <= kJogRadius * kJogRadius) {
        n.jogDragging = true;
        n.jogLastX = x;
    }
}

void SurfaceEditor::drag(int y) {
    Native& n = *native;
    const int position = positionAt(y - n.dragGrabOffset);
    if (position == n.dragPosition) return;
    n.dragPosition = position;
    action(mcusim::kMcuSimMoveFader, n.dragFader, position);
    n.isDirty = true;
}

void SurfaceEditor::release() {
    Native& n = *native;
    if (n.pressedKey >= 0) action(mcusim::kMcuSimRelease, n.pressedKey);
    if (n.dragFader >= 0) action(mcusim::kMcuSimTouch, n.dragFader, 0);
    n.pressedKey = -1;
    n.dragFader = -1;
    n.jogDragging = false;
    n.isDirty = true;
}

void SurfaceEditor::wheel(int x, int y, int steps) {
    Native& n = *native;
    for (int s = 0; s < kStrips; ++s) {
        const int dx = x - vpotX(s);
        const int dy = y - kVPotY;
        if (dx * dx + dy * dy <= (kRingRadius + 4) * (kRingRadius + 4)) {
            action(mcusim::kMcuSimTurnVPot, s, steps);
            return;
        }
    }
    for (int f = 0; f < kFaders; ++f) {
        if (std::abs(x - faderX(f)) <= kCapWidth / 2 && y >= kFaderTop - kCapHeight && y <= kFaderBottom + kCapHeight) {
            if (n.dragFader == f) return;
            // Quick turns build on each other before the audio thread has published them.
            const long long now = nowMilliseconds();
            const int from = n.wheelFader == f && now - n.wheelAt < 500 ? n.wheelPosition : n.state.faders[f];
            const int position = std::clamp(from + steps * kWheelFaderStep, 0, kFaderMax);
            action(mcusim::kMcuSimTouch, f, 1);
            action(mcusim::kMcuSimMoveFader, f, position);
            action(mcusim::kMcuSimTouch, f, 0);
            n.wheelFader = f;
            n.wheelPosition = position;
            n.wheelAt = now;
            return;
        }
    }
    action(mcusim::kMcuSimJog, steps);
}

bool SurfaceEditor::needsPaint() {
    Native& n = *native;
    const bool blink = (nowMilliseconds() / kBlinkMilliseconds) % 2 == 0;
    if (n.isDirty) return true;
    // Counters change with every message and show nowhere.
    mcusim::SurfaceState shown = n.state;
    shown.counters = n.drawn.counters;
    if (std::memcmp(&shown, &n.drawn, sizeof shown) != 0) return true;
    if (blink != n.drawnBlink) {
        for (std::uint8_t led : n.state.leds)
            if (led == mcusim::kLedBlink) return true;
    }
    return false;
}

void SurfaceEditor::paint() {
    Native& n = *native;
    Display* display = n.display;
    const bool blink = (nowMilliseconds() / kBlinkMilliseconds) % 2 == 0;
    const mcusim::SurfaceState& state = n.state;
    GC gc = n.gc;

    n.fill(Colour::Background, 0, 0, kWidth, kHeight);

    // The display: seven characters above each strip.
    n.fill(Colour::DisplayBack, kStripLeft - 4, kDisplayTop, kStrips * kStripWidth + 8, kDisplayHeight);
    n.frame(Colour::Frame, kStripLeft - 4, kDisplayTop, kStrips * kStripWidth + 8, kDisplayHeight);
    n.setFont(n.displayFont);
    XSetForeground(display, gc, n.colour(Colour::DisplayText));
    const int cellTextWidth = n.displayFont != nullptr ? n.displayFont->max_bounds.width : 6;
    const int cellInset = std::max(0, (kCellWidth - cellTextWidth) / 2);
    for (int line = 0; line < 2; ++line) {
        const int baseline = kDisplayTop + 19 + line * 19;
        for (int i = 0; i < kLineLength; ++i) {
            char c = state.lcd[line * kLineLength + i];
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = ' ';
            const int x = stripLeft(i / 7) + 1 + (i % 7) * kCellWidth + cellInset;
            XDrawString(display, n.buffer, gc, x, baseline, &c, 1);
        }
    }

    // Assignment digits above the master fader, timecode on the right.
    char text[32];
    n.fill(Colour::SegmentBack, kMasterLeft, kDisplayTop, kMasterWidth, kDisplayHeight);
    n.frame(Colour::Frame, kMasterLeft, kDisplayTop, kMasterWidth, kDisplayHeight);
    n.drawDigits(state.assignment, 2, kMasterLeft + kMasterWidth / 2, kDisplayTop + 9, Colour::Segment);
    n.fill(Colour::SegmentBack, kRightLeft, kDisplayTop, kRightWidth, kDisplayHeight);
    n.frame(Colour::Frame, kRightLeft, kDisplayTop, kRightWidth, kDisplayHeight);
    std::uint8_t reading[mcusim::kTimecodeDigits];
    for (int i = 0; i < mcusim::kTimecodeDigits; ++i) reading[i] = state.timecode[mcusim::kTimecodeDigits - 1 - i];
    n.drawDigits(reading, mcusim::kTimecodeDigits, kRightLeft + kRightWidth / 2, kDisplayTop + 9, Colour::Segment);
    n.drawCentred(n.labelFont, "ASSIGN", kMasterLeft + kMasterWidth / 2, 68, Colour::DimText);

    // Connection state under the assignment digits.
    n.disc(state.online ? Colour::Green : Colour::Red, kMasterLeft + kMasterWidth / 2, 84, 5);
    n.drawCentred(n.labelFont, state.online ? "ONLINE" : "OFFLINE", kMasterLeft + kMasterWidth / 2, 106,
                  state.online ? Colour::Green : Colour::DimText);

    // Strips.
    for (int s = 0; s < kStrips; ++s) {
        const int left = stripLeft(s);
        n.fill(Colour::Strip, left + 1, kDisplayTop + kDisplayHeight + 4, kStripWidth - 2,
               kHeight - kDisplayTop - kDisplayHeight - 6);

        // V-Pot with its ring and the centre light below it.
        const int cx = vpotX(s);
        const std::uint16_t lights = mcusim::SurfaceModel::ringLights(state.rings[s]);
        for (int i = 0; i < mcusim::kRingLights; ++i) {
            const double angle = (225.0 - 27.0 * i) * M_PI / 180.0;
            const int x = cx + static_cast<int>(std::lround(std::cos(angle) * kRingRadius));
            const int y = kVPotY - static_cast<int>(std::lround(std::sin(angle) * kRingRadius));
            n.disc((lights & (1u << i)) != 0 ? Colour::RingOn : Colour::RingOff, x, y, kRingLight / 2 + 1);
        }
        n.disc((state.rings[s] & 0x40) != 0 ? Colour::RingOn : Colour::RingOff, cx, kVPotY + kRingRadius + 2, 2);
        const bool pushed = state.leds[key::kVPotPush + s] != mcusim::kLedOff || n.pressedKey == key::kVPotPush + s;
        n.disc(pushed ? Colour::ButtonText : Colour::Knob, cx, kVPotY, kKnobRadius);

        // Fader track, meter and strip number.
        const int fx = faderX(s);
        n.fill(Colour::Track, fx - 2, kFaderTop - 2, 5, kFaderBottom - kFaderTop + 4);
        const int meterX = left + kMeterOffsetX;
        const int segment = (kFaderBottom - kFaderTop) / mcusim::kMeterMax;
        for (int level = 1; level <= mcusim::kMeterMax; ++level) {
            const Colour on = level > 10 ? Colour::Red : level > 8 ? Colour::Amber : Colour::Green;
            const int y = kFaderBottom + 4 - level * segment;
            n.fill(state.meters[s] >= level ? on : Colour::MeterOff, meterX, y, kMeterWidth, segment - 2);
        }
        n.fill(state.clips[s] ? Colour::Red : Colour::MeterOff, meterX, kFaderTop - 14, kMeterWidth, 6);
        std::snprintf(text, sizeof text, "%d", s + 1);
        n.drawCentred(n.labelFont, text, meterX + kMeterWidth / 2, kHeight - 6, Colour::DimText);
    }
    n.fill(Colour::Strip, kMasterLeft, 144, kMasterWidth, kHeight - 146);
    n.drawCentred(n.labelFont, "MASTER", kMasterLeft + kMasterWidth / 2, 158, Colour::ButtonText);
    n.fill(Colour::Track, faderX(kFaders - 1) - 2, kFaderTop - 2, 5, kFaderBottom - kFaderTop + 4);

    // Fader caps, where the host put them (or the user is holding them).
    for (int f = 0; f < kFaders; ++f) {
        const int position = n.dragFader == f ? n.dragPosition : state.faders[f];
        const int y = capY(position);
        const bool isTouched = state.touched[f] || n.dragFader == f;
        const int x = faderX(f) - kCapWidth / 2;
        n.fill(isTouched ? Colour::CapTouched : Colour::Cap, x, y - kCapHeight / 2, kCapWidth, kCapHeight);
        n.fill(Colour::Track, x + 2, y, kCapWidth - 4, 1);
    }

    // Buttons with their LEDs.
    for (const Button& button : n.buttons) {
        const bool lit = n.isLit(button.key, blink);
        n.fill(lit ? button.lit : Colour::ButtonOff, button.x, button.y, button.width, button.height);
        if (n.pressedKey == button.key) n.frame(Colour::ButtonText, button.x, button.y, button.width, button.height);
        const Colour label = lit ? Colour::LitText : Colour::ButtonText;
        const int cx = button.x + button.width / 2;
        const int cy = button.y + button.height / 2;
        if (button.label[0] != '\0') {
            n.drawCentred(n.labelFont, button.label, cx, cy + 4, label);
            continue;
        }
        // Cursor keys: an arrow pointing along (dx, dy).
        const int dx = button.key == key::kCursorLeft ? -1 : button.key == key::kCursorRight ? 1 : 0;
        const int dy = button.key == key::kCursorUp ? -1 : button.key == key::kCursorDown ? 1 : 0;
        const auto point = [](int x, int y) { return XPoint{static_cast<short>(x), static_cast<short>(y)}; };
        XPoint points[3] = {point(cx + 5 * dx, cy + 5 * dy), point(cx - 4 * dx - 6 * dy, cy - 4 * dy + 6 * dx),
                            point(cx - 4 * dx + 6 * dy, cy - 4 * dy - 6 * dx)};
        XSetForeground(display, gc, n.colour(label));
        XFillPolygon(display, n.buffer, gc, points, 3, Convex, CoordModeOrigin);
    }

    // The jog wheel.
    n.disc(Colour::Frame, kJogX, kJogY, kJogRadius);
    n.disc(Colour::Knob, kJogX, kJogY, kJogRadius - 4);
    n.disc(Colour::Frame, kJogX + kJogRadius / 2, kJogY - kJogRadius / 3, 5);
    n.drawCentred(n.labelFont, "JOG", kJogX, kJogY + 5, Colour::ButtonText);

    XCopyArea(display, n.buffer, n.window, gc, 0, 0, kWidth, kHeight, 0, 0);
    n.drawn = state;
    n.drawnBlink = blink;
    n.isDirty = false;
}

} // namespace trelvo::plugins
