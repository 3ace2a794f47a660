#include "progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

namespace textjob {
namespace {

/// "12/40 MB" out of a source's "Read 12/40 MB (900 rows)"; "12 MB" when the total is 0 (a
/// pipe, whose size is not known); empty when the text has no such piece. `sizeKnown` tells
/// whether the total was known.
std::string sizeReadFrom(std::string_view text, bool& sizeKnown) {
    sizeKnown = false;
    const size_t at = text.find("Read ");
    if (at == std::string_view::npos) return {};
    std::string_view rest = text.substr(at + 5);
    size_t i = 0;
    auto digits = [&] {
        const size_t from = i;
        while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9')
            ++i;
        return i > from;
    };
    if (!digits() || i >= rest.size() || rest[i] != '/') return {};
    const size_t slash = i++;
    const size_t totalAt = i;
    if (!digits() || i >= rest.size() || rest[i] != ' ') return {};
    const std::string_view unit = rest.substr(i + 1, 2);
    if (unit != "MB" && unit != "KB") return {};
    const std::string_view total = rest.substr(totalAt, i - totalAt);
    sizeKnown = total.find_first_not_of('0') != std::string_view::npos;
    if (sizeKnown) return std::string(rest.substr(0, i + 3));
    return std::string(rest.substr(0, slash)) + " " + std::string(unit);
}

std::string duration(uint64_t seconds) {
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                      static_cast<unsigned long long>(seconds / 3600),
                      static_cast<unsigned long long>(seconds / 60 % 60),
                      static_cast<unsigned long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu",
                      static_cast<unsigned long long>(seconds / 60),
                      static_cast<unsigned long long>(seconds % 60));
    }
    return text;
}

size_t terminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace

std::string groupDigits(uint64_t n) {
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, 1, ',');
    return digits;
}

ProgressSample sampleProgress(const std::vector<texthost::StepStatus>& status, double seconds) {
    ProgressSample sample;
    sample.seconds = seconds;
    if (status.empty()) return sample;
    const texthost::StepStatus& source = status.front();
    sample.rows = source.rows;
    sample.totalKnown = source.totalKnown;
    sample.total = source.total;
    bool sizeKnown = false;
    // The size a step inside a long call (a wait for a pipe's data) said is of an earlier
    // moment than the rows counted since: it is left out until the step answers again.
    if (source.current) sample.sizeRead = sizeReadFrom(source.text, sizeKnown);
    // A source that knows neither its size nor its rows (a pipe) has no percentage to give.
    const bool totalKnown = sizeKnown || (source.totalKnown && source.total > 0);
    if (!totalKnown) return sample;
    if (source.ok && source.percent >= 0 && source.percent <= 100) {
        sample.percent = source.percent;
    } else if (source.totalKnown && source.total > 0 && source.rows <= source.total) {
        sample.percent = static_cast<int>(source.rows * 100 / source.total);
    }
    return sample;
}

std::string formatProgressLine(const ProgressSample& sample) {
    std::string line;
    if (sample.percent >= 0) {
        char percent[16];
        std::snprintf(percent, sizeof percent, "%3d%%", sample.percent);
        line = std::string(percent) + " | ";
    }
    line += groupDigits(sample.rows) + " rows";
    if (!sample.sizeRead.empty()) line += " | " + sample.sizeRead;
    if (sample.seconds >= 0.1) {
        const double rate = static_cast<double>(sample.rows) / sample.seconds;
        line += " | " + groupDigits(static_cast<uint64_t>(rate)) + " rows/s";
        // The first moments' rate is no guide to the rest (a trickle before the data flows):
        // the time left is told from the second second on.
        if (sample.totalKnown && sample.total > sample.rows && rate >= 1 && sample.seconds >= 1) {
            const double left = static_cast<double>(sample.total - sample.rows) / rate;
            line += " | " + duration(static_cast<uint64_t>(left + 0.5)) + " left";
        }
    }
    return line;
}

std::string elapsedLine(double seconds, uint64_t rows) {
    char time[32];
    if (seconds < 60) {
        std::snprintf(time, sizeof time, "%.1f s", seconds);
    } else {
        std::snprintf(time, sizeof time, "%s",
                      duration(static_cast<uint64_t>(seconds + 0.5)).c_str());
    }
    std::string line = std::string("Elapsed ") + time + ", " + groupDigits(rows) + " rows read";
    if (seconds >= 0.1) {  // a shorter run is too short to give a rate
        line += ", " + groupDigits(static_cast<uint64_t>(static_cast<double>(rows) / seconds)) +
                " rows/s";
    }
    return line;
}

ProgressDisplay::ProgressDisplay() : start_(std::chrono::steady_clock::now()) {}

double ProgressDisplay::seconds() const {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    return elapsed.count();
}

void ProgressDisplay::update(const std::vector<texthost::StepStatus>& status) {
    std::string line = formatProgressLine(sampleProgress(status, seconds()));
    const size_t width = terminalWidth();
    if (line.size() >= width) line.resize(width - 1);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void ProgressDisplay::clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace textjob
