#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "support/test_step.h"
#include "texthost/describe.h"
#include "texthost/plugin_library.h"
#include "texthost/run.h"

namespace hosttest {
namespace {

using texthost::JobError;
using texthost::PluginLibrary;

std::string loadError(const std::string& path) {
    try {
        PluginLibrary library(path);
    } catch (const JobError& e) {
        return e.what();
    }
    return {};
}

TEST(PluginLoaderTest, MissingLibraryIsNamed) {
    const std::string message = loadError("/nonexistent/libtext.so");
    EXPECT_NE(message.find("Plug-in library not found: /nonexistent/libtext.so"), std::string::npos)
        << message;
}

TEST(PluginLoaderTest, LibraryWithoutEntryFunctionIsRefused) {
    const std::string message = loadError(HOST_TEST_NO_ENTRY_LIBRARY);
    EXPECT_NE(message.find(HOST_TEST_NO_ENTRY_LIBRARY), std::string::npos) << message;
    EXPECT_NE(message.find("has no entry function dtstep_text_entry"), std::string::npos)
        << message;
}

TEST(PluginLoaderTest, FileThatIsNoLibraryIsRefused) {
    const std::string message = loadError(TEXT_SOURCE_DIR "/tests/host/CMakeLists.txt");
    EXPECT_NE(message.find("Cannot load plug-in library"), std::string::npos) << message;
}

TEST(PluginLoaderTest, ReadsTheCatalogue) {
    PluginLibrary library(HOST_TEST_FAKE_PLUGIN);
    EXPECT_EQ(library.name(), "Fake");
    ASSERT_EQ(library.stepTypes().size(), 1u);
    EXPECT_EQ(library.stepTypes()[0].typeId, "FAKE_SOURCE");
    EXPECT_EQ(library.stepTypes()[0].description, "Fake source");
    EXPECT_NE(library.find("FAKE_SOURCE"), nullptr);
    EXPECT_EQ(library.find("fake_source"), nullptr);
}

// A job could not tell apart two types of one name, nor name a type without one; a library
// that throws while it loads is named as one that refuses to.
TEST(PluginLoaderTest, ATypeOfferedTwiceOrWithoutANameIsRefused) {
    for (const auto& [extra, said] :
         {std::pair{"twice", "offers step type FAKE_SOURCE twice"},
          std::pair{"nameless", "offers a step type without a name (2 of 2)"},
          std::pair{"throws", "failed while loading: no catalogue"}}) {
        setenv("HOST_TEST_FAKE_TYPES", extra, 1);
        const std::string message = loadError(HOST_TEST_FAKE_PLUGIN);
        unsetenv("HOST_TEST_FAKE_TYPES");
        EXPECT_NE(message.find(said), std::string::npos) << message;
    }
}

// A step of a plug-in that cannot be set up is named with its library, in a run and in the
// catalogue alike.
TEST(PluginLoaderTest, AStepThatFailsToInitializeIsNamedWithItsLibrary) {
    setenv("HOST_TEST_FAKE_TYPES", "initfail", 1);
    texthost::RunOptions options;
    options.pluginPath = HOST_TEST_FAKE_PLUGIN;
    const texthost::RunReport report = texthost::runJob(
        texthost::parseJobText(R"({"steps": [{"type": "FAKE_SOURCE", "name": "f"}]})", ""),
        options);
    std::string listing;
    try {
        texthost::describeStepTypes(options);
    } catch (const texthost::JobError& e) {
        listing = e.what();
    }
    unsetenv("HOST_TEST_FAKE_TYPES");
    const std::string library = std::string("of the plug-in ") + HOST_TEST_FAKE_PLUGIN;
    ASSERT_FALSE(report.errors().empty());
    EXPECT_NE(report.errors().front().find(library + " failed to initialize"), std::string::npos)
        << report.errors().front();
    EXPECT_NE(listing.find("Step type FAKE_SOURCE " + library + " failed to initialize"),
              std::string::npos)
        << listing;
}

TEST(PluginLoaderTest, RunsAJobOfPluginAndHostSteps) {
    Journal journal;
    texthost::RunOptions options;
    options.extraSteps = testStepTypes(journal);
    options.pluginPath = HOST_TEST_FAKE_PLUGIN;
    const texthost::RunReport report = texthost::runJob(
        texthost::parseJobText(R"({"steps": [{"type": "FAKE_SOURCE", "properties": {"ROWS": 4}},
                                             {"type": "TEST_PASS"}]})",
                               ""),
        options);
    EXPECT_TRUE(report.ok);
    EXPECT_EQ(report.rows, 4u);
    EXPECT_EQ(report.infos(),
              (std::vector<std::string>{"fake source done", "pass1 handled 4 rows done; ok"}));
}

TEST(PluginLoaderTest, JobNeedingAMissingPluginNamesPathAndStep) {
    texthost::RunOptions options;
    options.pluginPath = "/nonexistent/libtext.so";
    const texthost::RunReport report = texthost::runJob(
        texthost::parseJobText(R"({"steps": [{"type": "SOURCE_DELIMTEXT", "name": "in"}]})", ""),
        options);
    EXPECT_TRUE(report.badJob);
    ASSERT_EQ(report.errors().size(), 1u);
    EXPECT_NE(report.errors()[0].find("/nonexistent/libtext.so"), std::string::npos);
    EXPECT_NE(report.errors()[0].find("step \"in\""), std::string::npos);
}

TEST(PluginLoaderTest, DefaultPathComesFromTheEnvironmentElseBesideTheProgram) {
    const char* saved = std::getenv("TEXT_PLUGIN_PATH");
    const std::string savedValue = saved != nullptr ? saved : "";
    setenv("TEXT_PLUGIN_PATH", "/plugins/libx.so", 1);
    EXPECT_EQ(texthost::defaultPluginPath(), "/plugins/libx.so");
    unsetenv("TEXT_PLUGIN_PATH");
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(texthost::defaultPluginPath(),
              (exe.parent_path().parent_path() / "lib" / "libtext.so").string());
    if (saved != nullptr) setenv("TEXT_PLUGIN_PATH", savedValue.c_str(), 1);
}

/// The real plug-in, when it has been built: its catalogue as the host reads it.
TEST(PluginLoaderTest, RealPluginCatalogue) {
    const char* path = std::getenv("TEXT_PLUGIN_PATH");
    if (path == nullptr || !std::filesystem::exists(path)) GTEST_SKIP() << "plug-in not built";
    PluginLibrary library(path);
    EXPECT_EQ(library.name(), "Text");
    std::vector<std::string> ids;
    for (const auto& type : library.stepTypes())
        ids.push_back(type.typeId);
    EXPECT_EQ(ids, (std::vector<std::string>{"SOURCE_DELIMTEXT", "SOURCE_FIXEDTEXT", "DEST_HTML",
                                             "DEST_DELIMTEXT", "DEST_FIXEDTEXT"}));
}

}  // namespace
}  // namespace hosttest
