#include "app/RunModes.h"

namespace trelvo::app {

int runWindow(const CommandLine& command, int& argc, char** argv) {
    return runHeadless(command);
}

} // namespace trelvo::app
