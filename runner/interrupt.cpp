#include "interrupt.h"

#include <signal.h>
#include <unistd.h>

#include "exit_status.h"
#include "texthost/run.h"

namespace textjob {
namespace {

void say(const char* text, size_t size) {
    const ssize_t ignored = write(STDERR_FILENO, text, size);
    (void)ignored;
}

// Only async-signal-safe calls: an atomic store, write and _exit.
void onInterrupt(int) {
    if (texthost::stopRequested()) {
        static const char kQuit[] =
            "\nStopped at once: the files being written may be incomplete or cut mid-line\n";
        say(kQuit, sizeof kQuit - 1);
        _exit(kExitInterrupted);
    }
    texthost::requestStop();
    static const char kNote[] =
        "\nStopping the job: the steps finish and close their files (press Ctrl-C again to quit "
        "at once)\n";
    say(kNote, sizeof kNote - 1);
}

}  // namespace

void installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace textjob
