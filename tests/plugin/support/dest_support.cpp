#include "dest_support.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "mvb/date.h"
#include "step/plugin.h"
#include "texthost/job.h"
#include "texthost/pipeline.h"
#include "texthost/plugin_library.h"

namespace desttest {
namespace {

class RowSourceStep final : public StepPluginStep {
  public:
    explicit RowSourceStep(std::shared_ptr<const TestRows> rows) : rows_(std::move(rows)) {}

    bool initialize(StepHost* host, int* inputCount, int* outputCount) override {
        host_ = host;
        *inputCount = 0;
        *outputCount = 1;
        return true;
    }
    void release() override { delete this; }
    int prepare(int flags) override {
        StepOutputItems* out = host_->createOutputItems(static_cast<int>(rows_->fields.size()));
        for (int k = 0; k < out->count; ++k) {
            out->items[k].name.assign(rows_->fields[k].name);
            out->items[k].type = rows_->fields[k].type;
            out->items[k].length = rows_->fields[k].type == mvbTypeString ? 100 : 0;
            out->items[k].byteSize = out->items[k].length * 4;
        }
        return (flags & 1) != 0 ? 3 : 7;
    }
    bool start() override {
        next_ = 0;
        return true;
    }
    int processRow(int) override {
        if (next_ == rows_->rows.size()) return 1;
        StepOutputItems* out = host_->getOutputRow();
        const auto& row = rows_->rows[next_++];
        for (int k = 0; k < out->count; ++k)
            out->items[k].value = row.at(k);
        return !rows_->honoursStop || host_->shouldContinue() ? 0 : 2;
    }
    void finish() override {}
    bool getStatus(int* percent, MvbString* text) override {
        *percent = 0;
        text->assign("test rows");
        return true;
    }
    bool getProgress(uint64_t* total) override {
        *total = rows_->rows.size();
        return rows_->countKnown;
    }
    void* queryExtension(int) override { return nullptr; }
    void notifyEvent(int, int) override {}

  private:
    StepHost* host_ = nullptr;
    std::shared_ptr<const TestRows> rows_;
    size_t next_ = 0;
};

/// Forwards to a plug-in step, taking the validating bit out of prepare's flags.
class LenientStep final : public StepPluginStep {
  public:
    explicit LenientStep(StepPluginStep* inner) : inner_(inner) {}

    bool initialize(StepHost* host, int* in, int* out) override {
        return inner_->initialize(host, in, out);
    }
    void release() override {
        inner_->release();
        delete this;
    }
    int prepare(int flags) override { return inner_->prepare(flags & ~2); }
    bool start() override { return inner_->start(); }
    int processRow(int unused) override { return inner_->processRow(unused); }
    void finish() override { inner_->finish(); }
    bool getStatus(int* percent, MvbString* text) override {
        return inner_->getStatus(percent, text);
    }
    bool getProgress(uint64_t* total) override { return inner_->getProgress(total); }
    void* queryExtension(int id) override { return inner_->queryExtension(id); }
    void notifyEvent(int event, int data) override { inner_->notifyEvent(event, data); }

  private:
    StepPluginStep* inner_;
};

/// Hands its input rows on as they are, as `behaviour` says.
class PassStep final : public StepPluginStep {
  public:
    explicit PassStep(PassBehaviour behaviour) : behaviour_(behaviour) {}
    bool initialize(StepHost* host, int* inputCount, int* outputCount) override {
        host_ = host;
        *inputCount = 1;
        *outputCount = 1;
        return true;
    }
    void release() override { delete this; }
    int prepare(int flags) override {
        const StepOutputItems* in = host_->getInputItems(0, true);
        if (in == nullptr) return 0;
        StepOutputItems* out = host_->createOutputItems(in->count);
        for (int k = 0; k < in->count; ++k) {
            out->items[k].name = in->items[k].name;
            out->items[k].type = in->items[k].type;
            out->items[k].length = in->items[k].length;
            out->items[k].byteSize = in->items[k].byteSize;
        }
        return (flags & 1) != 0 ? 3 : 7;
    }
    bool start() override {
        rows_ = 0;
        return true;
    }
    int processRow(int) override {
        if (rows_ == behaviour_.endsAfterRows) return 1;
        ++rows_;
        const int code = host_->readInputRow(0);
        if (code != 0) return code;
        const StepOutputItems* in = host_->getInputItems(0, false);
        StepOutputItems* out = host_->getOutputRow();
        for (int k = 0; k < out->count; ++k)
            out->items[k].value = in->items[k].value;
        return 0;
    }
    void finish() override {
        if (behaviour_.failsInFinish) host_->reportError(MvbString("failed in finish", true));
    }
    bool getStatus(int*, MvbString*) override { return false; }
    bool getProgress(uint64_t*) override { return false; }
    void* queryExtension(int) override { return nullptr; }
    void notifyEvent(int, int) override {}

  private:
    StepHost* host_ = nullptr;
    PassBehaviour behaviour_;
    int64_t rows_ = 0;
};

const texthost::PluginLibrary& plugin() {
    static const texthost::PluginLibrary library(texthost::defaultPluginPath());
    return library;
}

}  // namespace

texthost::HostStepType rowSource(std::string typeId, TestRows rows) {
    auto shared = std::make_shared<const TestRows>(std::move(rows));
    return {typeId, "test rows", [shared] { return new RowSourceStep(shared); }};
}

texthost::HostStepType passStep(std::string typeId, PassBehaviour behaviour) {
    return {typeId, "passes rows on", [behaviour] { return new PassStep(behaviour); }};
}

texthost::HostStepType lenientStep(std::string typeId, std::string pluginTypeId) {
    const texthost::PluginStepType* type = plugin().find(pluginTypeId);
    if (type == nullptr) throw std::runtime_error("no plug-in step " + pluginTypeId);
    StepCreateFunction create = type->create;
    return {typeId, "lenient " + pluginTypeId, [create] { return new LenientStep(create()); }};
}

MvbDatavar text(const char* value) {
    return MvbDatavar(value);
}
MvbDatavar integer(int64_t value) {
    return MvbDatavar(value);
}
MvbDatavar real(double value) {
    return MvbDatavar(value);
}
MvbDatavar boolean(bool value) {
    return MvbDatavar(value);
}
MvbDatavar date(int year, int month, int day) {
    MvbDate d;
    d.assign(year, month, day, 0, 0, 0, 0);
    MvbDatavar v;
    v.assign(d);
    return v;
}
MvbDatavar null() {
    return MvbDatavar();
}

bool fileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

texthost::RunReport runJobFile(const TempDir& dir, const nlohmann::json& steps,
                               const texthost::RunOptions& options) {
    const std::string path = dir.file("job.json");
    writeFile(path, nlohmann::json{{"steps", steps}}.dump(2));
    return texthost::runJob(texthost::parseJobFile(path), options);
}

std::vector<std::vector<std::string>> readDelimited(const std::string& file,
                                                    const std::vector<std::string>& names,
                                                    const nlohmann::json& extraProperties) {
    nlohmann::json fields = nlohmann::json::array();
    for (const auto& name : names) {
        fields.push_back({{"NAME", name}, {"TYPE", "string"}, {"MAX_LENGTH", 200}});
    }
    nlohmann::json properties = {{"FILENAME", file}, {"FIELDS", fields}, {"QUOTE", "\""}};
    for (const auto& [key, value] : extraProperties.items())
        properties[key] = value;
    nlohmann::json job = {{"steps", {{{"type", "SOURCE_DELIMTEXT"}, {"properties", properties}}}}};
    texthost::Pipeline pipeline(texthost::parseJobText(job.dump(), "/tmp"));
    std::vector<std::vector<std::string>> rows;
    if (!pipeline.prepareAndStart()) {
        std::string why;
        for (const auto& m : pipeline.messages())
            why += m.text + "\n";
        throw std::runtime_error("reading back " + file + " failed: " + why);
    }
    while (pipeline.pull() == 0) {
        const StepOutputItems* items = pipeline.outputItems(0);
        std::vector<std::string> row;
        for (int k = 0; k < items->count; ++k) {
            const MvbDatavar& v = items->items[k].value;
            row.push_back(v.isNull() ? "<null>" : std::string(v.asString().view()));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

nlohmann::json fieldsTable(const std::vector<std::pair<std::string, nlohmann::json>>& rows,
                           const char* second) {
    nlohmann::json table = nlohmann::json::array();
    for (const auto& [name, value] : rows)
        table.push_back({{"FIELDNAME", name}, {second, value}});
    return table;
}

std::string joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const auto& t : texts)
        all += t + "\n";
    return all;
}

bool anyContains(const std::vector<std::string>& texts, const std::string& part) {
    for (const auto& t : texts) {
        if (t.find(part) != std::string::npos) return true;
    }
    return false;
}

std::string todayDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return std::to_string(local.tm_mon + 1) + "/" + std::to_string(local.tm_mday) + "/" +
           std::to_string(local.tm_year + 1900);
}

}  // namespace desttest
