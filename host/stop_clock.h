#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "texthost/run.h"

namespace texthost {

/// After a stop request the steps stop themselves at their next progress point, reporting it;
/// a driver loop that still runs a second later, because its step does not ask, stops on its
/// own. Asked after every row; the clock is read once per 1024 rows after the request.
class StopClock {
  public:
    /// True once a stop was requested more than a second ago.
    bool expired() {
        if (!stopRequested()) [[likely]]
            return false;
        using Clock = std::chrono::steady_clock;
        if (!seen_) {
            seen_ = Clock::now();
            return false;
        }
        return (++rowsSince_ & 1023) == 0 && Clock::now() - *seen_ > std::chrono::seconds(1);
    }

  private:
    std::optional<std::chrono::steady_clock::time_point> seen_;
    uint64_t rowsSince_ = 0;
};

}  // namespace texthost
