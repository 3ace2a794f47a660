#include "interrupt.h"

#include <signal.h>
#include <unistd.h>

#include "exit_status.h"
#include "texthost/run.h"

namespace textjob {
namespace {

void onInterrupt(int) {
    if (texthost::stopRequested()) _exit(kExitInterrupted);
    texthost::requestStop();
    static const char kNote[] = "\nStopping the job (press Ctrl-C again to quit at once)\n";
    const ssize_t ignored = write(STDERR_FILENO, kNote, sizeof kNote - 1);
    (void)ignored;
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
