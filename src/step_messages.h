#pragma once

#include <source_location>

#include "mvb/message.h"
#include "mvb/string.h"
#include "step/host.h"

/// A catalogue message number together with the line of the statement that reports it. The
/// line is taken where the number is converted, so `report(726)` names the caller's own line
/// without a macro; code that reports for its caller passes the caller's location on.
struct StepMessageId {
    int number;
    int line;
    StepMessageId(int messageNumber,
                  std::source_location where = std::source_location::current()) noexcept
        : number(messageNumber), line(static_cast<int>(where.line())) {}
};

/// Reports a step's messages: each is the catalogue's text for its number in the "Text Plugin"
/// domain, naming the step's source file (for example "src/dts_txtdelimsrc") and the reporting
/// line, handed to the host as an error.
class StepMessages {
  public:
    StepMessages(StepHost* host, const char* sourceFile) noexcept
        : host_(host), sourceFile_(sourceFile) {}

    StepHost* host() const noexcept { return host_; }
    const char* sourceFile() const noexcept { return sourceFile_; }

    template <typename... Args>
    void report(StepMessageId id, const Args&... args) const {
        host_->reportError(
            mvb_get_message(sourceFile_, id.line, "Text Plugin", id.number, args...));
    }

    /// As report(), but logged as a warning: the run goes on.
    template <typename... Args>
    void warn(StepMessageId id, const Args&... args) const {
        host_->getLog()->logMessage(
            1, mvb_get_message(sourceFile_, id.line, "Text Plugin", id.number, args...));
    }

  private:
    StepHost* host_;
    const char* sourceFile_;
};
