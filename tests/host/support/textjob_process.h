#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace hosttest {

/// How the program is started besides its arguments.
struct ProcessSetup {
    /// Standard error on a pseudo-terminal, so that the program sees a terminal there.
    bool stderrOnTerminal = false;
    /// Standard output and error both into one pipe whose reader has already quit, as in
    /// `textjob run job.json 2>&1 | head -1` once head has ended; out() and err() stay empty.
    bool outputToClosedPipe = false;
    /// The program's file-size limit in bytes (RLIMIT_FSIZE); 0 for the test's own.
    unsigned long long fileSizeLimit = 0;
    /// A file (a named pipe, say) opened as standard input; empty for the test's own.
    std::string standardInput;
};

/// A running textjob program (the build's bin/textjob) for end-to-end tests. Standard output
/// goes to a file in `folder`; standard error to a file too, or to a pseudo-terminal so that
/// the program sees a terminal there. Every wait is bounded.
class TextjobProcess {
  public:
    /// Starts bin/textjob with `args` (the plug-in comes from TEXT_PLUGIN_PATH unless `args`
    /// name one). Check started() before anything else.
    TextjobProcess(const std::vector<std::string>& args, const std::filesystem::path& folder,
                   bool stderrOnTerminal = false);
    TextjobProcess(const std::vector<std::string>& args, const std::filesystem::path& folder,
                   const ProcessSetup& setup);
    /// Kills a program still running.
    ~TextjobProcess();
    TextjobProcess(const TextjobProcess&) = delete;
    TextjobProcess& operator=(const TextjobProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    /// True while the program has not ended.
    bool running();
    /// Waits until standard error holds `text`; false when the program ended or the time ran
    /// out first.
    bool waitForError(const std::string& text, std::chrono::milliseconds timeout);
    /// Waits until the program holds a file descriptor open on `path`.
    bool waitForOpenFile(const std::filesystem::path& path, std::chrono::milliseconds timeout);
    void interrupt();
    /// Sends `signal` while the program runs.
    void signal(int signal);
    /// Waits for the end and gives the exit status; -1 when a signal ended the program, -2 when
    /// it was still running after `timeout` (it is then killed).
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));

    /// What the program wrote so far (a terminal turns each "\n" into "\r\n").
    std::string out() const;
    std::string err();

  private:
    void drainTerminal(int timeoutMs);

    std::filesystem::path folder_;
    pid_t pid_ = -1;
    int terminal_ = -1;
    std::string terminalText_;
    int status_ = 0;
    bool ended_ = false;
};

/// The program's standard output without the summary's last line ("Elapsed 0.1 s, ..."),
/// whose time differs from run to run; the text as it is when it has no such line.
std::string withoutElapsedLine(const std::string& out);

/// Reads a whole file; empty when it cannot be read.
std::string slurp(const std::filesystem::path& path);

}  // namespace hosttest
