#pragma once

namespace textjob {

/// Installs the SIGINT handler: the first Ctrl-C asks the running job to stop (the steps
/// finish and close their files); a second one ends the program at once with status 130.
void installInterruptHandler();

}  // namespace textjob
