#pragma once

#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "run_log.h"

namespace texthost {

/// Calls into a step behind a wall: nothing a step throws reaches the host's caller. An
/// exception is logged as an error of `step` and the call answers `failure`. `log` is a RunLog
/// or anything with its error(step, text).
template <typename Log, typename Result, typename Body>
Result guardedCall(Log& log, std::string_view step, Result failure, Body&& body) noexcept {
    try {
        try {
            return body();
        } catch (const std::bad_alloc&) {
            log.error(step, "out of memory");
        } catch (const std::exception& e) {
            log.error(step, std::string("unexpected failure: ") + e.what());
        } catch (...) {
            log.error(step, "unexpected failure (unknown exception)");
        }
    } catch (...) {
        // Logging itself ran out of memory; the failure value still tells the caller.
    }
    return failure;
}

}  // namespace texthost
