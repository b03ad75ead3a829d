#pragma once

// What the project's plug-in editors share: a plain Xlib child window of the host's window,
// on a display connection of the editor's own.

#include <cstdio>
#include <cstdlib>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace trelvo::plugins::x11 {

/// Xlib's default error handler ends the process, and a plug-in must never do that to its
/// host. While the editor talks to the server, errors on its own connection are recorded;
/// errors on any other connection go to whatever handler was there before. The constructor
/// and destructor wait for the server, so every error of the requests in between is caught.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display(display) {
        XSync(display, False);
        trapped = display;
        errorCode = 0;
        previous = XSetErrorHandler(&handle);
    }
    ~ErrorTrap() {
        XSync(display, False);
        XSetErrorHandler(previous);
        trapped = nullptr;
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    /// Waits for the server; true when a request since the trap was set failed.
    bool failed() {
        XSync(display, False);
        return errorCode != 0;
    }

private:
    static int handle(Display* display, XErrorEvent* error) {
        if (display == trapped) {
            errorCode = error->error_code;
            return 0;
        }
        return previous != nullptr ? previous(display, error) : 0;
    }

    static inline Display* trapped = nullptr;
    static inline int errorCode = 0;
    static inline XErrorHandler previous = nullptr;
    Display* display;
};

/// An editor colour in eight bits a channel.
struct Rgb {
    unsigned short red, green, blue;
};

/// The editor's own connection to the display DISPLAY names; null, said on standard error
/// with the plug-in's name, when it does not open.
inline Display* openDisplay(const char* pluginName) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr, "%s: no editor, the X display \"%s\" does not open\n", pluginName,
                     name != nullptr ? name : "");
    }
    return display;
}

/// Pixels for a palette on the default colour map; a colour that cannot be had becomes
/// black or white, whichever is nearer.
inline void allocateColours(Display* display, const Rgb* palette, int count, unsigned long* pixels) {
    const int screen = DefaultScreen(display);
    const Colormap colormap = DefaultColormap(display, screen);
    for (int i = 0; i < count; ++i) {
        XColor colour{};
        colour.red = static_cast<unsigned short>(palette[i].red * 257);
        colour.green = static_cast<unsigned short>(palette[i].green * 257);
        colour.blue = static_cast<unsigned short>(palette[i].blue * 257);
        colour.flags = DoRed | DoGreen | DoBlue;
        const bool isDark = palette[i].red + palette[i].green + palette[i].blue < 3 * 0x80;
        pixels[i] = XAllocColor(display, colormap, &colour) != 0 ? colour.pixel
                    : isDark                                     ? BlackPixel(display, screen)
                                                                 : WhitePixel(display, screen);
    }
}

/// The editor's window as a child of the host's (not mapped yet), taking the mouse and exposure
/// events. Call under an ErrorTrap and ask it whether the creation failed.
inline Window createChild(Display* display, unsigned long parent, int width, int height, unsigned long background) {
    const int screen = DefaultScreen(display);
    // The default visual, stated in full, so that a parent of another depth (an ARGB
    // window, say) does not make the creation fail.
    XSetWindowAttributes attributes{};
    attributes.background_pixel = background;
    attributes.border_pixel = 0;
    attributes.colormap = DefaultColormap(display, screen);
    attributes.event_mask =
        ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask;
    return XCreateWindow(display, parent, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                         DefaultDepth(display, screen), InputOutput, DefaultVisual(display, screen),
                         CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &attributes);
}

/// True when the parent the host handed over is a window of this display.
inline bool isWindow(Display* display, unsigned long window, ErrorTrap& trap) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) != 0 && !trap.failed();
}

inline bool isInside(int x, int y, int left, int top, int width, int height) {
    return x >= left && x < left + width && y >= top && y < top + height;
}

} // namespace trelvo::plugins::x11
