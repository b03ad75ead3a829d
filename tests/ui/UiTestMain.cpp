// The window tests' main: one QApplication for the whole program, then GoogleTest.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <climits>
#include <cstdlib>
#include <string>

namespace {

// Plug-in editors draw with OpenGL. The GL vendor library and the software driver it loads
// keep static allocations; when they are unloaded with the last editor, the leak checker no
// longer sees what points at them and reports them. Kept loaded, it sees them.
void keepGlLoaded() {
    void* vendor = dlopen("libGLX_mesa.so.0", RTLD_NOW | RTLD_NODELETE);
    if (vendor == nullptr) return;
    char folder[PATH_MAX] = {};
    if (dlinfo(vendor, RTLD_DI_ORIGIN, folder) != 0) return;
    dlopen((std::string(folder) + "/dri/swrast_dri.so").c_str(), RTLD_NOW | RTLD_NODELETE);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The model and key tests need no display; the X11 tests run under Xvfb, which sets one.
    if (std::getenv("DISPLAY") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    keepGlLoaded();
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
