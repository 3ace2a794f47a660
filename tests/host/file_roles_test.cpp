// The host learns which properties name files from the steps themselves, for any plug-in: the
// write guard covers a step type it has never heard of, and ignores what it cannot use.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/temp_files.h"
#include "step/plugin.h"
#include "texthost/file_roles.h"
#include "texthost/pipeline.h"
#include "texthost/run.h"

namespace {

namespace fs = std::filesystem;

/// A step of a plug-in the host knows nothing about: a source (no input) or a pass-through
/// with `inputs` inputs, declaring the text properties IN and OUT and the files `files` names.
class FileStep final : public StepPluginStep {
  public:
    FileStep(int inputs, const StepFiles* files) : inputs_(inputs), files_(files) {}
    bool initialize(StepHost* host, int* inputCount, int* outputCount) override {
        host_ = host;
        *inputCount = inputs_;
        *outputCount = 1;
        for (const char* name : {"IN", "OUT", "MORE"})
            host->getPropertySchema()->declareProperty(MvbString(name, true), mvbTypeString);
        return true;
    }
    void release() override { delete this; }
    int prepare(int) override {
        host_->createOutputItems(0);
        return 3;
    }
    bool start() override { return true; }
    int processRow(int) override { return inputs_ == 0 ? 1 : host_->readInputRow(0); }
    void finish() override {}
    bool getStatus(int*, MvbString*) override { return false; }
    bool getProgress(uint64_t*) override { return false; }
    void* queryExtension(int id) override {
        if (files_ == nullptr) throw std::runtime_error("no files today");
        return id == kStepFilesExtension ? const_cast<StepFiles*>(files_) : nullptr;
    }
    void notifyEvent(int, int) override {}

  private:
    int inputs_;
    const StepFiles* files_;
    StepHost* host_ = nullptr;
};

// IN is read; OUT written, appended to when MORE is "true"; an unknown role, a nameless entry
// and an extra file beside a read file are left out; "note.txt" is written beside OUT.
const StepFileProperty kProperties[] = {{"IN", kStepFileRead, nullptr},
                                        {"OUT", kStepFileAppended, "MORE"},
                                        {"MORE", 99, nullptr},
                                        {nullptr, kStepFileWritten, nullptr}};
const StepExtraFile kExtras[] = {{"note.txt", "OUT", 0}, {"bad.txt", "IN", 0}};
const StepFiles kFiles{4, kProperties, 2, kExtras};

/// The destination's files are kFiles, or with `destThrows` it throws when asked for them.
texthost::RunOptions optionsWith(int transformInputs, bool destThrows = false) {
    texthost::RunOptions options;
    options.threads = 1;
    options.extraSteps = {
        {"FILE_SOURCE", "reads IN", [] { return new FileStep(0, &kFiles); }},
        {"FILE_DEST", "writes OUT",
         [transformInputs, destThrows] {
             return new FileStep(transformInputs, destThrows ? nullptr : &kFiles);
         }},
    };
    return options;
}

std::string jobText(const std::string& in, const std::string& out, const std::string& more) {
    return R"({"steps": [{"type": "FILE_SOURCE", "name": "a", "properties": {"IN": ")" + in +
           R"("}}, {"type": "FILE_DEST", "name": "b", "properties": {"OUT": ")" + out +
           R"(", "MORE": ")" + more + R"("}}]})";
}

TEST(FileRoles, AreTakenFromTheStepAndWhatTheHostCannotUseIsLeftOut) {
    const texthost::JobDefinition job = texthost::parseJobText(jobText("x", "y", "true"), "");
    texthost::Pipeline pipeline(job, optionsWith(1));
    const std::vector<texthost::StepFileRoles> roles = texthost::fileRolesOf(pipeline);
    ASSERT_EQ(roles.size(), 2u);
    const texthost::StepFileRoles& dest = roles[1];
    ASSERT_EQ(dest.properties.size(), 2u);
    EXPECT_EQ(dest.properties[0].role, texthost::FileRole::Read);
    ASSERT_EQ(dest.written().size(), 1u);
    EXPECT_EQ(dest.written()[0]->property, "OUT");
    EXPECT_TRUE(dest.written()[0]->appendsIn(job.steps[1]));
    EXPECT_FALSE(dest.written()[0]->appendsIn(job.steps[0]));
    EXPECT_EQ(texthost::roleText(*dest.written()[0]),
              "file written, appended to when MORE is true");
    ASSERT_EQ(dest.extras.size(), 1u);
    EXPECT_EQ(dest.extras[0].name, "note.txt");
}

TEST(FileRoles, GuardAStepTypeTheHostDoesNotKnow) {
    testfiles::TempDir dir;
    std::ofstream(dir.path() / "in.txt") << "data\n";
    struct Case {
        const char* name;
        std::string in;
        std::string out;
        const char* refusal;  ///< part of the refusal; null: the job runs
    };
    const Case cases[] = {
        {"writes what it reads", "in.txt", "./in.txt", "would write \"./in.txt\", which is"},
        {"its extra file is what it reads", "note.txt", "out.txt", "its file \"note.txt\""},
        {"files of its own", "in.txt", "out.txt", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        texthost::JobDefinition job =
            texthost::parseJobText(jobText(c.in, c.out, "false"), dir.path().string());
        const texthost::RunReport report = texthost::runJob(job, optionsWith(1));
        const std::vector<std::string> errors = report.errors();
        if (c.refusal == nullptr) {
            EXPECT_FALSE(report.badJob);
            EXPECT_TRUE(errors.empty());
            continue;
        }
        EXPECT_TRUE(report.badJob);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(c.refusal), std::string::npos) << errors[0];
        EXPECT_NE(errors[0].find("step \"a\" (FILE_SOURCE) reads"), std::string::npos);
    }
}

// A step that throws rather than name its files could write what the run reads: refused.
TEST(FileRoles, AStepThatFailsToNameItsFilesIsRefused) {
    const texthost::JobDefinition job = texthost::parseJobText(jobText("x", "y", "false"), "");
    const texthost::RunReport report = texthost::runJob(job, optionsWith(1, true));
    EXPECT_TRUE(report.badJob);
    ASSERT_EQ(report.errors().size(), 1u);
    EXPECT_NE(report.errors()[0].find("Step \"b\" (FILE_DEST) failed when asked which files it "
                                      "reads and writes (unexpected failure: no files today)"),
              std::string::npos)
        << report.errors()[0];
}

TEST(FileRoles, AStepDeclaringInputsItCannotHaveIsRefused) {
    const texthost::JobDefinition job = texthost::parseJobText(jobText("x", "y", "false"), "");
    for (const auto& [inputs, said] : {std::pair{2, "Step \"b\" (FILE_DEST) needs 2 inputs"},
                                       std::pair{-1, "declares -1 inputs and 1 outputs"}}) {
        const texthost::RunReport report = texthost::runJob(job, optionsWith(inputs));
        EXPECT_TRUE(report.badJob);
        ASSERT_EQ(report.errors().size(), 1u);
        EXPECT_NE(report.errors()[0].find(said), std::string::npos) << report.errors()[0];
    }
}

}  // namespace
