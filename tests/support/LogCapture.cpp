#include "support/LogCapture.h"

#include "diag/DiagLog.h"
#include "diag/OpcodeLevels.h"

namespace trelvo::test {

LogCapture::LogCapture() {
    diag::DiagLog& log = diag::theLog();
    log.switches.debugOutput = false;
    log.switches.writeLog = true;
    log.switches.errorLog = true;
    log.switches.verbose = false;
    diag::setLogHooks(nullptr, nullptr);
    diag::hostCallLevels().resetForTests();
    diag::plugCallLevels().resetForTests();
    clear();
}

LogCapture::~LogCapture() {
    diag::DiagLog& log = diag::theLog();
    log.drain();
    log.switches.writeLog = false;
    log.switches.errorLog = false;
    log.switches.verbose = false;
    log.switches.debugOutput = true;
    diag::hostCallLevels().resetForTests();
    diag::plugCallLevels().resetForTests();
}

void LogCapture::clear() {
    diag::theLog().start("");
}

std::vector<std::string> LogCapture::lines() const {
    std::vector<std::string> result;
    const std::vector<std::string> all = diag::theLog().logLines();
    for (std::size_t i = 1; i < all.size(); ++i) result.push_back(all[i].size() > 10 ? all[i].substr(10) : all[i]);
    return result;
}

std::vector<std::string> LogCapture::errors() const {
    std::vector<std::string> result;
    for (const std::string& line : lines())
        if (line.rfind("ERR: ", 0) == 0) result.push_back(line.substr(5));
    return result;
}

bool LogCapture::contains(const std::string& text) const {
    for (const std::string& line : lines())
        if (line.find(text) != std::string::npos) return true;
    return false;
}

} // namespace trelvo::test
