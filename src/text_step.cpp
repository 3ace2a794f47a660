#include "text_step.h"

void TextStep::reportInternalFailure(const char* what, std::source_location where) const {
    // The line is the wall's own, in this file: where the failure arose is not known here.
    if (host() != nullptr)
        StepMessages(host(), "src/text_step").report(StepMessageId(802, where), what);
}

bool TextStep::initialize(StepHost* host, int* inputCount, int* outputCount) {
    messages_ = StepMessages(host, messages_.sourceFile());
    return guarded(false, [&] {
        if (inputCount != nullptr) *inputCount = inputCount_;
        if (outputCount != nullptr) *outputCount = 1;
        properties_.declare(host->getPropertySchema());
        initializeStep();
        return true;
    });
}

void TextStep::release() {
    releaseResources();
    delete this;
}

int TextStep::prepare(int flags) {
    return guarded(0, [&] { return prepareStep(flags); });
}

bool TextStep::start() {
    return guarded(false, [&] { return startStep(); });
}

int TextStep::processRow(int) {
    return guarded(2, [&] { return produceRow(); });
}

void TextStep::finish() {
    guarded(false, [&] {
        finishStep();
        return true;
    });
}

bool TextStep::getStatus(int* percent, MvbString* text) {
    return guarded(false, [&] { return statusOf(percent, text); });
}

bool TextStep::getProgress(uint64_t* total) {
    return guarded(false, [&] { return progressOf(total); });
}

void* TextStep::queryExtension(int id) {
    return guarded<void*>(nullptr, [&]() -> void* {
        if (id == kStepPropertyNotesExtension) {
            properties_.describe(notes_);
            return const_cast<StepPropertyNotes*>(notes_.view());
        }
        if (id == kStepFilesExtension) {
            properties_.listFiles(files_);
            return const_cast<StepFiles*>(files_.view());
        }
        return nullptr;
    });
}
