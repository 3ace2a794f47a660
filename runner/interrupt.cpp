#include "interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "exit_status.h"
#include "texthost/run.h"

namespace textjob {
namespace {

// The first stop signal, kept for the exit status. A signal is process-wide, and its handler
// can reach nothing but such a flag.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal number must be signal-safe");

void say(const char* text, size_t size) {
    const ssize_t ignored = write(STDERR_FILENO, text, size);
    (void)ignored;
}

// When the first stop signal came, in nanoseconds of the monotonic clock.
std::atomic<int64_t> gFirstStopAt{0};
static_assert(std::atomic<int64_t>::is_always_lock_free, "the time must be signal-safe");

// A signal this soon after the first is the same stop delivered twice, as by a program that
// signals a process and then its process group: only a later one asks to quit at once.
constexpr int64_t kSameStopNs = 500'000'000;

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Only async-signal-safe calls: atomic loads and stores, clock_gettime, write and _exit.
void onStopSignal(int signal) {
    const int64_t now = monotonicNs();
    if (texthost::stopRequested()) {
        if (now - gFirstStopAt.load() < kSameStopNs) return;
        static const char kQuit[] =
            "\nStopped at once: a file replaced at the end was left as it was, the rows written "
            "for it in a temporary file beside it (.NAME.*.tmp), which may end mid-line; a file "
            "written in place or appended to may end mid-line\n";
        say(kQuit, sizeof kQuit - 1);
        const int first = gStopSignal.load();
        _exit(128 + (first != 0 ? first : signal));
    }
    gStopSignal.store(signal);
    gFirstStopAt.store(now);
    texthost::requestStop();
    if (signal == SIGINT) {
        static const char kNote[] =
            "\nStopping the job: the steps finish and close their files (press Ctrl-C again to "
            "quit at once)\n";
        say(kNote, sizeof kNote - 1);
    } else {
        static const char kNote[] =
            "\nStopping the job on a termination or hang-up signal: the steps finish and close "
            "their files (a second signal quits at once)\n";
        say(kNote, sizeof kNote - 1);
    }
}

// The stand-in is close-on-exec, which no inherited descriptor is: that marks it as one for
// messages only, which the runtime refuses as a "-" file for data.
void openOnNullWhenClosed(int fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) return;
    const int null = open("/dev/null", (fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
    if (null >= 0 && null != fd) {
        dup3(null, fd, O_CLOEXEC);
        close(null);
    }
}

}  // namespace

void installSignalHandlers() {
    // In order: the lowest closed number is the one open() gives next.
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        openOnNullWhenClosed(fd);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);

    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaddset(&stop.sa_mask, SIGINT);
    sigaddset(&stop.sa_mask, SIGTERM);
    sigaddset(&stop.sa_mask, SIGHUP);
    stop.sa_flags = SA_RESTART;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGHUP, &stop, nullptr);
}

int stoppedExitStatus() {
    const int signal = gStopSignal.load();
    return signal != 0 ? 128 + signal : kExitInterrupted;
}

}  // namespace textjob
