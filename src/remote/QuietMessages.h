#pragma once

#include <string>
#include <vector>

#include "diag/DiagLog.h"
#include "session/RackController.h"

namespace trelvo::remote {

/// While a remote command runs, a message box would wait for someone at the screen who may
/// not be there: messages go back to the client instead, and questions are not asked.
class QuietMessages {
public:
    explicit QuietMessages(rack::RackController& controller)
        : controller(controller), showMessage(std::move(controller.showMessage)),
          askSavePath(std::move(controller.askSavePath)), askText(std::move(controller.askText)) {
        controller.showMessage = [this](const std::string& text) {
            diag::hookedLogError(text);
            said.push_back(text);
        };
        controller.askSavePath = nullptr;
        controller.askText = nullptr;
    }
    ~QuietMessages() {
        controller.showMessage = std::move(showMessage);
        controller.askSavePath = std::move(askSavePath);
        controller.askText = std::move(askText);
    }
    QuietMessages(const QuietMessages&) = delete;
    QuietMessages& operator=(const QuietMessages&) = delete;

    /// What would have been shown, one message after the other.
    std::string text() const {
        std::string all;
        for (const std::string& line : said) all += (all.empty() ? "" : "\n") + line;
        return all;
    }

private:
    rack::RackController& controller;
    decltype(rack::RackController::showMessage) showMessage;
    decltype(rack::RackController::askSavePath) askSavePath;
    decltype(rack::RackController::askText) askText;
    std::vector<std::string> said;
};

} // namespace trelvo::remote
