#pragma once

#include <string>

namespace trelvo::host {
class TVstPlugIn;
}

namespace trelvo::app {

/// The facts of an open plug-in, one "key: value" line each, in the order `trelvo --info`
/// prints them.
std::string formatPluginInfo(host::TVstPlugIn& plugIn);

/// `trelvo --info LIBRARY`: loads the library into slot 2 of a fresh rack (an output and a
/// channel above it), opens it, prints its facts to standard output, closes and unloads
/// it. A library that fails to load prints the loader's error lines on standard error and
/// gives 1.
int runInfoMode(const std::string& libraryPath);

} // namespace trelvo::app
