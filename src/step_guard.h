#pragma once

#include <exception>
#include <new>

#include "mvb/string.h"
#include "step/host.h"

/// Runs one step operation behind the plug-in boundary's wall: anything thrown other than
/// std::bad_alloc is reported through the host and turned into the operation's failure value.
template <typename Result, typename Body>
Result guardStep(StepHost* host, Result failure, Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        if (host != nullptr) host->reportError(MvbString(e.what(), false));
    } catch (...) {
        if (host != nullptr)
            host->reportError(MvbString("Text Plugin: unexpected internal failure", true));
    }
    return failure;
}
