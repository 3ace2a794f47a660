#pragma once

#include <source_location>

#include "mvb/message.h"
#include "mvb/string.h"
#include "step/host.h"

/// A catalogue message number together with the line of the statement that reports it. The
/// line is taken where the number is converted, so `reportStepMessage(host, file, 726)` names
/// the caller's own line without a macro.
struct StepMessageId {
    int number;
    int line;
    StepMessageId(int messageNumber,
                  std::source_location where = std::source_location::current()) noexcept
        : number(messageNumber), line(static_cast<int>(where.line())) {}
};

/// Formats catalogue message `id` for the step whose source file is `sourceFile` (for example
/// "src/dts_txtdelimsrc") in the "Text Plugin" domain and hands it to the host as an error.
template <typename... Args>
void reportStepMessage(StepHost* host, const char* sourceFile, StepMessageId id,
                       const Args&... args) {
    host->reportError(mvb_get_message(sourceFile, id.line, "Text Plugin", id.number, args...));
}
