#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "texthost/run.h"

namespace textjob {

/// What the live progress line shows, taken from the steps' status.
struct ProgressSample {
    int percent = -1;         ///< completion in percent; -1 when not known
    uint64_t rows = 0;        ///< rows the source has read
    bool totalKnown = false;  ///< the source knows (or estimates) its total of rows
    uint64_t total = 0;
    std::string sizeRead;  ///< "12/40 MB" from the source's status, or empty
    double seconds = 0;    ///< time since the run began
};

/// The sample for the first step's status (the source), `seconds` into the run. The percent
/// is the step's own when it gives one within 0..100, else rows against a known total.
ProgressSample sampleProgress(const std::vector<texthost::StepStatus>& status, double seconds);

/// One line, e.g. " 45% | 1,234,567 rows | 12/40 MB | 210,000 rows/s | 0:07 left". Pieces
/// that are not known are left out; the rate needs a run of at least a tenth of a second, the
/// time left a known total and a rate.
std::string formatProgressLine(const ProgressSample& sample);

/// The run summary's last line: "Elapsed 3.2 s, 1,234,567 rows read, 385,802 rows/s" (the
/// time as m:ss or h:mm:ss from a minute on; no rate for a run shorter than a tenth of a second).
std::string elapsedLine(double seconds, uint64_t rows);

/// A count with a comma between groups of three digits: 1234567 → "1,234,567".
std::string groupDigits(uint64_t n);

/// The live progress line on standard error (a terminal): each update rewrites the line,
/// cut to the terminal's width; clear() removes it so that messages and the prompt start on a
/// clean line.
class ProgressDisplay {
  public:
    ProgressDisplay();
    void update(const std::vector<texthost::StepStatus>& status);
    /// Removes the line when one is shown.
    void clear();
    /// Seconds since the display was made (the run's start).
    double seconds() const;

  private:
    std::chrono::steady_clock::time_point start_;
    bool shown_ = false;
};

}  // namespace textjob
