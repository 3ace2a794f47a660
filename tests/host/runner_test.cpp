#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace hosttest {
namespace {

namespace fs = std::filesystem;

/// Runs textjob with the fake plug-in on a job file; keeps its exit status and output.
class RunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("textjob-test-" + std::to_string(getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string writeJob(const std::string& json) {
        const fs::path path = folder / "job.json";
        std::ofstream(path) << json;
        return path.string();
    }

    /// Starts textjob (with the fake plug-in unless `args` name one); `interruptAfter` > 0 sends
    /// SIGINT after that long.
    void run(const std::vector<std::string>& args, std::chrono::milliseconds interruptAfter = {}) {
        std::vector<std::string> all = {TEXT_BINARY_DIR "/bin/textjob"};
        if (std::find(args.begin(), args.end(), "--plugin") == args.end()) {
            all.insert(all.end(), {"--plugin", HOST_TEST_FAKE_PLUGIN});
        }
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, (folder / "out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, (folder / "err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        if (interruptAfter.count() > 0) {
            std::this_thread::sleep_for(interruptAfter);
            kill(pid, SIGINT);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        exitStatus = WEXITSTATUS(status);
        out = slurp(folder / "out");
        err = slurp(folder / "err");
    }

    static std::string slurp(const fs::path& path) {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path folder;
    int exitStatus = -1;
    std::string out;
    std::string err;
};

TEST_F(RunnerTest, SuccessPrintsTheSummaryOnStandardOutput) {
    run({"run", writeJob(R"({"steps": [{"type": "FAKE_SOURCE"}]})")});
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(out, "FAKE_SOURCE: fake source done\n");
    EXPECT_EQ(err, "");
}

TEST_F(RunnerTest, OptionsMayFollowTheCommand) {
    const std::string job = writeJob(R"({"steps": [{"type": "FAKE_SOURCE", "properties":
                                         {"ROWS": 1}}]})");
    run({"run", job, "--plugin", HOST_TEST_FAKE_PLUGIN, "--quiet"});
    EXPECT_EQ(exitStatus, 0) << err;
    EXPECT_EQ(out, "");
}

TEST_F(RunnerTest, StepFailureExitsWithOne) {
    run({"run", writeJob(R"({"steps": [{"type": "FAKE_SOURCE", "properties": {"ROWS": -1}}]})")});
    EXPECT_EQ(exitStatus, 1);
    EXPECT_EQ(err, "error: FAKE_SOURCE: ROWS must not be negative\n");
}

TEST_F(RunnerTest, BadJobOrUsageExitsWithTwo) {
    run({"run", writeJob(R"({"steps": [{"type": "NO_SUCH_STEP"}]})")});
    EXPECT_EQ(exitStatus, 2);
    EXPECT_NE(err.find("Unknown step type \"NO_SUCH_STEP\""), std::string::npos) << err;
    run({"run", (folder / "missing.json").string()});
    EXPECT_EQ(exitStatus, 2);
    EXPECT_NE(err.find("no such job file"), std::string::npos) << err;
    run({"frobnicate"});
    EXPECT_EQ(exitStatus, 2);
}

TEST_F(RunnerTest, InterruptStopsTheRunWithStatus130) {
    // Far more rows than can pass before the interrupt arrives.
    run({"run", writeJob(R"({"steps": [{"type": "FAKE_SOURCE", "properties":
                                        {"ROWS": 1000000000000}}]})")},
        std::chrono::milliseconds(500));
    EXPECT_EQ(exitStatus, 130);
    EXPECT_NE(err.find("The run was stopped before the end of the data"), std::string::npos) << err;
    EXPECT_EQ(out, "FAKE_SOURCE: fake source done\n");  // the step was still finished
}

}  // namespace
}  // namespace hosttest
