#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "texthost/run.h"

namespace texthost {

/// The messages of one run, in the order they came. Steps running in threads of their own log
/// through one RunLog: every call takes its lock, and the listener runs under it, so that
/// listeners never overlap.
class RunLog {
  public:
    void error(std::string_view step, std::string_view text);
    void warning(std::string_view step, std::string_view text);
    /// A summary piece: `newEntry` starts a message; a further piece is appended to the step's
    /// last summary when that is the latest message, and starts a new one otherwise. Pieces
    /// are joined with ", " where neither brings a blank or punctuation to the seam.
    void info(std::string_view step, std::string_view text, bool newEntry);

    /// Called with each error and warning as it is logged.
    void setListener(std::function<void(const RunMessage&)> listener) {
        listener_ = std::move(listener);
    }

    std::size_t errorCount() const {
        const std::lock_guard<std::mutex> hold(mutex_);
        return errorCount_;
    }
    /// Read once no step runs any more (the run's threads have ended).
    const std::vector<RunMessage>& messages() const { return messages_; }
    /// The log's lock, for work that must not overlap a listener call (the progress display).
    std::unique_lock<std::mutex> lock() const { return std::unique_lock<std::mutex>(mutex_); }

  private:
    mutable std::mutex mutex_;
    std::vector<RunMessage> messages_;
    std::size_t errorCount_ = 0;
    std::function<void(const RunMessage&)> listener_;
};

}  // namespace texthost
