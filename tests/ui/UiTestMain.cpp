// The window tests' main: one QApplication for the whole program, then GoogleTest.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The model and key tests need no display; the X11 tests run under Xvfb, which sets one.
    if (std::getenv("DISPLAY") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Plug-in editors draw with OpenGL, and the GL vendor library that loads for them keeps
    // static allocations; when it is unloaded with the last editor, the leak checker no
    // longer sees what points at them and reports them. Kept loaded, it sees them.
    dlopen("libGLX_mesa.so.0", RTLD_NOW | RTLD_NODELETE);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
