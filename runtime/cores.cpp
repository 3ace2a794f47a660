#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <string>
#include <thread>

#include "cores_internal.h"
#include "mvb/cores.h"

namespace mvb::cores {
namespace {

/// The whole text of a small file of the kernel's; empty when it cannot be read.
std::string fileText(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return text;
}

/// The cores the calling thread's affinity mask allows; 0 when it cannot be read.
unsigned affinityCores() noexcept {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
    return static_cast<unsigned>(CPU_COUNT(&set));
}

/// The whole cores `quota` over `period` allows, rounded up; 0 for no limit.
unsigned ofQuota(uint64_t quota, uint64_t period) noexcept {
    if (quota == 0 || period == 0) return 0;
    const uint64_t cores = quota / period + (quota % period != 0 ? 1 : 0);
    return cores > 0xFFFFu ? 0xFFFFu : static_cast<unsigned>(cores);
}

/// A whole number at the start of `text` (a newline may follow); false for anything else, such
/// as "max" or "-1".
bool readCount(std::string_view text, uint64_t* value) noexcept {
    const char* const end = text.data() + text.size();
    const auto read = std::from_chars(text.data(), end, *value);
    return read.ec == std::errc() && (read.ptr == end || *read.ptr == '\n');
}

/// The fewest cores the CPU quotas of `group` and of the cgroups above it allow (a limit set
/// on a parent holds for every cgroup below it), `allowedIn` reading one cgroup's folder; 0
/// when none sets one. Inside a container the path may name the group as the machine sees
/// it, above the container's own, which is then the root of what is mounted: walking up
/// reaches it.
template <class AllowedIn>
unsigned fewestAlong(const std::string& mount, std::string group, AllowedIn allowedIn) {
    unsigned fewest = 0;
    for (;;) {
        while (group.ends_with('/'))
            group.pop_back();
        const unsigned allowed = allowedIn(mount + group);
        if (allowed != 0) fewest = fewest == 0 ? allowed : std::min(fewest, allowed);
        if (group.empty()) return fewest;
        const size_t parent = group.rfind('/');
        group.erase(parent == std::string::npos ? 0 : parent);
    }
}

/// The fewest cores the CPU quotas of this process's cgroups allow: through the cpu
/// controller's own hierarchy where it has one ("N:cpu,cpuacct:/path"), else through the
/// unified one ("0::/path"); 0 when none sets a limit or there is no cgroup to read.
unsigned quotaCores() {
    const std::string cgroups = fileText("/proc/self/cgroup");
    std::string unified;
    bool haveUnified = false;
    for (size_t at = 0; at < cgroups.size();) {
        size_t end = cgroups.find('\n', at);
        if (end == std::string::npos) end = cgroups.size();
        const std::string_view line(cgroups.data() + at, end - at);
        at = end + 1;
        const size_t first = line.find(':');
        const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string group(line.substr(second + 1));
        if (controllers.empty()) {
            unified = group;
            haveUnified = true;
            continue;
        }
        for (size_t from = 0; from <= controllers.size();) {
            size_t comma = controllers.find(',', from);
            if (comma == std::string_view::npos) comma = controllers.size();
            if (controllers.substr(from, comma - from) == "cpu") {
                return fewestAlong("/sys/fs/cgroup/" + std::string(controllers), group,
                                   [](const std::string& folder) {
                                       return ofCfsQuota(fileText(folder + "/cpu.cfs_quota_us"),
                                                         fileText(folder + "/cpu.cfs_period_us"));
                                   });
            }
            from = comma + 1;
        }
    }
    if (!haveUnified) return 0;
    return fewestAlong("/sys/fs/cgroup", unified, [](const std::string& folder) {
        return ofCpuMax(fileText(folder + "/cpu.max"));
    });
}

}  // namespace

unsigned ofCpuMax(std::string_view text) noexcept {
    // "max 100000" reads no quota: no limit.
    const size_t space = text.find(' ');
    uint64_t quota = 0;
    uint64_t period = 0;
    if (space == std::string_view::npos || !readCount(text.substr(0, space), &quota) ||
        !readCount(text.substr(space + 1), &period)) {
        return 0;
    }
    return ofQuota(quota, period);
}

unsigned ofCfsQuota(std::string_view quota, std::string_view period) noexcept {
    // A quota of "-1" reads as none: no limit.
    uint64_t microseconds = 0;
    uint64_t periodMicroseconds = 0;
    if (!readCount(quota, &microseconds) || !readCount(period, &periodMicroseconds)) return 0;
    return ofQuota(microseconds, periodMicroseconds);
}

}  // namespace mvb::cores

unsigned mvbUsableCores() noexcept {
    unsigned cores = mvb::cores::affinityCores();
    if (cores == 0) cores = std::thread::hardware_concurrency();
    try {
        const unsigned quota = mvb::cores::quotaCores();
        if (quota != 0 && (cores == 0 || quota < cores)) cores = quota;
    } catch (...) {
        // Without memory to read the cgroup's files, the affinity alone tells.
    }
    return cores == 0 ? 1 : cores;
}
