#pragma once

#include "step/plugin.h"

/// The plug-in's factory. It holds no state: every answer comes from the step catalogue, and
/// indexes are not range-tested (getStepCount() is the bound the host is given).
class TextPluginFactory final : public StepPluginFactory {
  public:
    int getInterfaceVersion() override { return 2; }
    int getStepCount() override;
    StepCreateFunction getStepCreateFunction(int index) override;
    MvbString getStepTypeId(int index) override;
    MvbString getStepDescription(int index) override;
    bool queryStepFlag(int, int) override { return false; }
    bool queryStepData(int, int, int) override { return false; }
    void release() override { delete this; }
    int getExtraCount() override { return 0; }
    MvbString getStepText(int) override { return MvbString(); }
    void* getStepExtension(int) override { return nullptr; }
    ~TextPluginFactory() override = default;
    bool getStepTag(int index, int tagIndex, MvbString& tag, int* kind) override;
};
