#pragma once

// MCUsim's editor: the simulated surface as a plain Xlib child window of 760 x 330 pixels in
// the host's parent window. It has no thread of its own; the host's user-interface thread
// drives it through effEditOpen, effEditIdle and effEditClose.
//
// What it shows comes from the state the audio thread published last; what the user does
// goes to the plug-in as McuSimCommand actions, which the audio thread carries out.
//   Buttons     a press of button 1 sends the note's press, the release its release.
//   Faders      a press on a fader touches it and moves the cap to the pointer (or grabs the
//               cap where it was hit), dragging moves it, the release lets go.
//   Wheel       X11 buttons 4 (up, +1) and 5 (down, -1): over a V-Pot one step of it, over
//               a fader 8 positions with a touch around them, anywhere else one jog step.

#include <memory>

#include "McuSimControl.h"
#include "SurfaceModel.h"
#include "VstAbi.h"

namespace trelvo::plugins {

/// What the editor asks of its plug-in. Thread: user interface, all of it.
class SurfaceEditorController {
public:
    /// Copies the state the audio thread published last.
    virtual void readSurface(mcusim::SurfaceState& state) = 0;
    /// Queues a user action for the audio thread.
    virtual void surfaceAction(const mcusim::McuSimCommand& command) = 0;

protected:
    ~SurfaceEditorController() = default;
};

class SurfaceEditor {
public:
    static constexpr int kWidth = 760;
    static constexpr int kHeight = 330;

    explicit SurfaceEditor(SurfaceEditorController& controller);
    ~SurfaceEditor();
    SurfaceEditor(const SurfaceEditor&) = delete;
    SurfaceEditor& operator=(const SurfaceEditor&) = delete;

    /// parentWindow is the host's X11 window id. Returns false, with nothing left open, when
    /// there is no display or the parent is not a window.
    bool open(unsigned long parentWindow);
    void close();
    /// Handles the window's events and redraws what changed. Does nothing when closed.
    void idle();
    bool isOpen() const noexcept;
    ERect* rect() noexcept { return &currentRect; }

private:
    struct Native;

    void handleEvents();
    void press(int x, int y);
    void release();
    void drag(int y);
    void wheel(int x, int y, int steps);
    void paint();
    bool needsPaint();
    void action(mcusim::McuSimCode code, int a = 0, int b = 0);

    SurfaceEditorController& controller;
    std::unique_ptr<Native> native;
    ERect currentRect{0, 0, kHeight, kWidth};
};

} // namespace trelvo::plugins
