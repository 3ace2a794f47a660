#include "textjob_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace hosttest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TextjobProcess::TextjobProcess(const std::vector<std::string>& args, const fs::path& folder,
                               bool stderrOnTerminal)
    : TextjobProcess(args, folder, [stderrOnTerminal] {
          ProcessSetup setup;
          setup.stderrOnTerminal = stderrOnTerminal;
          return setup;
      }()) {}

TextjobProcess::TextjobProcess(const std::vector<std::string>& args, const fs::path& folder,
                               const ProcessSetup& setup)
    : folder_(folder) {
    const bool stderrOnTerminal = setup.stderrOnTerminal;
    std::vector<std::string> all = {TEXT_BINARY_DIR "/bin/textjob"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, (folder / "out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string terminalName;
    if (stderrOnTerminal) {
        terminal_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal_ < 0 || grantpt(terminal_) != 0 || unlockpt(terminal_) != 0) return;
        terminalName = ptsname(terminal_);
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, terminalName.c_str(),
                                         O_RDWR | O_NOCTTY, 0);
    } else {
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, (folder / "err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (!setup.standardInput.empty()) {
        posix_spawn_file_actions_addopen(&files, STDIN_FILENO, setup.standardInput.c_str(),
                                         O_RDONLY, 0);
    }
    int closedPipe[2] = {-1, -1};
    if (setup.outputToClosedPipe) {
        if (pipe2(closedPipe, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&files);
            return;
        }
        close(closedPipe[0]);
        posix_spawn_file_actions_adddup2(&files, closedPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&files, closedPipe[1], STDERR_FILENO);
    }
    // The child inherits the limit; the test's own is restored at once (it writes no file
    // meanwhile).
    rlimit ownLimit{};
    const bool limited = setup.fileSizeLimit != 0 && getrlimit(RLIMIT_FSIZE, &ownLimit) == 0;
    if (limited) {
        rlimit childLimit = ownLimit;
        childLimit.rlim_cur = static_cast<rlim_t>(setup.fileSizeLimit);
        setrlimit(RLIMIT_FSIZE, &childLimit);
    }
    if (posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ) != 0) pid_ = -1;
    if (limited) setrlimit(RLIMIT_FSIZE, &ownLimit);
    if (closedPipe[1] >= 0) close(closedPipe[1]);
    posix_spawn_file_actions_destroy(&files);
}

TextjobProcess::~TextjobProcess() {
    if (started() && running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    if (terminal_ >= 0) close(terminal_);
}

bool TextjobProcess::running() {
    if (ended_ || !started()) return false;
    if (terminal_ >= 0) drainTerminal(0);
    if (waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
    return !ended_;
}

void TextjobProcess::drainTerminal(int timeoutMs) {
    pollfd p{terminal_, POLLIN, 0};
    char buffer[4096];
    while (poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0) {
        const ssize_t n = read(terminal_, buffer, sizeof buffer);
        if (n <= 0) break;
        terminalText_.append(buffer, static_cast<size_t>(n));
        timeoutMs = 0;
    }
}

std::string TextjobProcess::err() {
    if (terminal_ < 0) return slurp(folder_ / "err");
    drainTerminal(0);
    return terminalText_;
}

std::string TextjobProcess::out() const {
    return slurp(folder_ / "out");
}

bool TextjobProcess::waitForError(const std::string& text, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
        if (terminal_ >= 0) drainTerminal(20);
        if (err().find(text) != std::string::npos) return true;
        if (!running()) return err().find(text) != std::string::npos;
        if (terminal_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool TextjobProcess::waitForOpenFile(const fs::path& path, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    const fs::path fdFolder = fs::path("/proc") / std::to_string(pid_) / "fd";
    while (Clock::now() < end && running()) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(fdFolder, ec)) {
            std::error_code linkError;
            if (fs::read_symlink(entry.path(), linkError) == path) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void TextjobProcess::interrupt() {
    signal(SIGINT);
}

void TextjobProcess::signal(int signal) {
    if (running()) kill(pid_, signal);
}

int TextjobProcess::wait(std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (running() && Clock::now() < end) {
        if (terminal_ >= 0) {
            drainTerminal(20);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        ended_ = true;
        return -2;
    }
    if (terminal_ >= 0) drainTerminal(50);
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::string withoutElapsedLine(const std::string& out) {
    const size_t last = out.rfind("Elapsed ");
    if (last == std::string::npos || (last > 0 && out[last - 1] != '\n') ||
        out.find('\n', last) + 1 != out.size()) {
        return out;
    }
    return out.substr(0, last);
}

}  // namespace hosttest
