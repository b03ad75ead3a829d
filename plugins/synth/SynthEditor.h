#pragma once

// TrelvoSynth's editor: a plain Xlib child window inside the host's parent window, with one
// knob per parameter and a "Size" button. It has no thread of its own; the host's
// user-interface thread drives it through effEditOpen, effEditIdle and effEditClose.
//
// Rules a host (and its tests) may rely on, in pixels of the editor window:
//   Size        effEditGetRect reports 320 x 200 until the first effEditOpen. Every
//               effEditOpen creates the window at 400 x 200 and from then on the rectangle
//               is the window's size (it stays the last size after effEditClose). The size
//               thus changes once after opening; the editor does not call
//               audioMasterSizeWindow for that change, the host must ask again.
//   Size button x 328..387, y 8..29 (60 x 22). A press of button 1 there toggles between
//               400 x 200 and 480 x 260: audioMasterSizeWindow(index = width, value =
//               height) first, then the window resizes itself whatever the host answered.
//   Knobs       knob i is centred at (70 + 110 i, 110); a press of button 1 within 40
//               pixels of the centre in x and y grabs it. Moving the pointer with the button
//               held sets value = value at the press + (press y - pointer y) / 200, clamped
//               to 0..1 (200 pixels for the full range, up is higher), through
//               setParameterAutomated, so the host hears audioMasterAutomate(index, opt =
//               value). Only a change of the value is sent: a click without vertical
//               movement sends nothing. The release counts as a last movement.
//   Redrawing   effEditIdle first makes a round trip to the X server, so every event sent
//               to the window before the call is handled in it; it then redraws when the
//               window was exposed or resized, or a parameter value, its text or the
//               program changed since the last drawing (also when the host set them).
//   Opening     effEditOpen with a parent that is not a window (0, or an id the server
//               does not know) or without an X display returns 0 and leaves no window.
//               effEditOpen while open closes the old window first. effEditIdle and
//               effEditClose without an open editor do nothing. A parent destroyed before
//               effEditClose takes the editor window with it; closing then only
//               disconnects.

#include <memory>
#include <string>

#include "VstAbi.h"

namespace trelvo::plugins {

/// What the editor asks of its plug-in. Thread: user interface, all of it.
class SynthEditorController {
public:
    virtual int numKnobs() const = 0;
    virtual float knobValue(int index) const = 0;
    virtual std::string knobName(int index) const = 0;
    /// The parameter's text as the host would show it (effGetParamDisplay).
    virtual std::string knobDisplay(int index) const = 0;
    virtual std::string programName() const = 0;
    /// The user turned a knob: set the parameter and tell the host.
    virtual void knobEdited(int index, float value) = 0;
    /// The editor wants another size (audioMasterSizeWindow).
    virtual void sizeRequested(int width, int height) = 0;

protected:
    ~SynthEditorController() = default;
};

class SynthEditor {
public:
    static constexpr int kClosedWidth = 320;
    static constexpr int kClosedHeight = 200;
    static constexpr int kSmallWidth = 400;
    static constexpr int kSmallHeight = 200;
    static constexpr int kLargeWidth = 480;
    static constexpr int kLargeHeight = 260;
    static constexpr int kDragRange = 200;

    explicit SynthEditor(SynthEditorController& controller);
    ~SynthEditor();
    SynthEditor(const SynthEditor&) = delete;
    SynthEditor& operator=(const SynthEditor&) = delete;

    /// parentWindow is the host's X11 window id. Returns false, with nothing left open, when
    /// there is no display or the parent is not a window.
    bool open(unsigned long parentWindow);
    void close();
    /// Handles the window's events and redraws what changed. Does nothing when closed.
    void idle();
    bool isOpen() const noexcept;
    /// The rectangle effEditGetRect hands out; it stays valid as long as the editor.
    ERect* rect() noexcept { return &currentRect; }

private:
    struct Native;

    void handleEvents();
    void press(int x, int y);
    void drag(int y);
    void toggleSize();
    void resize(int width, int height);
    void paint();
    bool needsPaint() const;

    SynthEditorController& controller;
    std::unique_ptr<Native> native;
    ERect currentRect{0, 0, kClosedHeight, kClosedWidth};
};

} // namespace trelvo::plugins
