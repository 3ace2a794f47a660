// UPPER_FIELD: passes every row on, with the field that FIELDNAME names in upper case (ASCII
// letters only). A whole plug-in of one step, written against the step contract alone.
#include <cctype>
#include <string>

#include "step/host.h"
#include "step/plugin.h"

namespace {

constexpr int kFieldName = 0;  // property index: the order of declaration

class UpperField final : public StepPluginStep {
  public:
    bool initialize(StepHost* host, int* inputCount, int* outputCount) override {
        host_ = host;
        *inputCount = 1;
        *outputCount = 1;
        host->getPropertySchema()->declareProperty(MvbString("FIELDNAME", true), mvbTypeString);
        return true;
    }
    void release() override { delete this; }

    // Declares the output as a copy of the input fields and finds the one to change.
    int prepare(int flags) override {
        StepOutputItems* in = host_->getInputItems(0, false);
        if (in == nullptr) return 0;
        StepOutputItems* out = host_->createOutputItems(in->count);
        for (int k = 0; k < in->count; ++k) {
            out->items[k].name = in->items[k].name;
            out->items[k].type = in->items[k].type;
            out->items[k].byteSize = in->items[k].byteSize;
            out->items[k].length = in->items[k].length;
        }
        const MvbString name = host_->getPropertyValues()->getValue(kFieldName, true).asString();
        field_ = findOutputItemByName(in, name);
        if (field_ < 0 && (flags & 2) != 0) {
            host_->reportError(MvbString("UPPER_FIELD: no input field \"" +
                                         std::string(name.view()) + "\": set FIELDNAME"));
            return 0;
        }
        return (flags & 2) != 0 ? 7 : 3;
    }
    bool start() override { return true; }

    int processRow(int) override {
        const int status = host_->readInputRow(0);
        if (status != 0) return status;  // 1: end of data; other: a failure upstream
        StepOutputItems* in = host_->getInputItems(0, true);
        StepOutputItems* out = host_->getOutputRow();
        for (int k = 0; k < in->count && k < out->count; ++k)
            out->items[k].value = in->items[k].value;
        if (field_ >= 0 && !out->items[field_].value.isNull()) {
            text_.assign(out->items[field_].value.asString().view());
            for (char& c : text_)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            out->items[field_].value.assign(std::string_view(text_));
        }
        return 0;
    }
    void finish() override {}
    bool getStatus(int*, MvbString*) override { return false; }
    bool getProgress(uint64_t*) override { return false; }
    void* queryExtension(int) override { return nullptr; }
    void notifyEvent(int, int) override {}

  private:
    StepHost* host_ = nullptr;
    int field_ = -1;
    std::string text_;  // reused from row to row
};

StepPluginStep* createUpperField() {
    return new UpperField();
}

// The catalogue: one step type.
class UpperFactory final : public StepPluginFactory {
  public:
    int getInterfaceVersion() override { return 1; }
    int getStepCount() override { return 1; }
    StepCreateFunction getStepCreateFunction(int) override { return createUpperField; }
    MvbString getStepTypeId(int) override { return MvbString("UPPER_FIELD", true); }
    MvbString getStepDescription(int) override { return MvbString("Upper-cases one field", true); }
    bool queryStepFlag(int, int) override { return false; }
    bool queryStepData(int, int, int) override { return false; }
    void release() override { delete this; }
    int getExtraCount() override { return 0; }
    MvbString getStepText(int) override { return MvbString(); }
    void* getStepExtension(int) override { return nullptr; }
    bool getStepTag(int, int, MvbString&, int*) override { return false; }
};

StepPluginFactory* createFactory() {
    return new UpperFactory();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int dtstep_text_entry(StepPluginEntry* entry) {
    entry->name = "Upper";
    entry->createFactory = createFactory;
    return 0;
}
