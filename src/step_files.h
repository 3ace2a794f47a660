#pragma once

#include <span>
#include <vector>

#include "step/plugin.h"
#include "step_properties.h"

/// No extra files: what a step that writes only the files its properties name declares.
inline constexpr std::span<const StepExtraFile> kNoExtraFiles{};

/// The files a step tells the host about (kStepFilesExtension): the rows of its property table
/// that carry a file role, and the extra files it writes.
class StepFileList {
  public:
    template <class Settings>
    void describe(std::span<const PropertyRow<Settings>> rows,
                  std::span<const StepExtraFile> extras) {
        properties_.clear();
        for (const PropertyRow<Settings>& row : rows) {
            if (row.fileRole != 0)
                properties_.push_back({row.name, row.fileRole, row.fileCondition});
        }
        view_.propertyCount = static_cast<int>(properties_.size());
        view_.properties = properties_.data();
        view_.extraCount = static_cast<int>(extras.size());
        view_.extras = extras.data();
    }
    const StepFiles* view() const noexcept { return &view_; }

  private:
    std::vector<StepFileProperty> properties_;
    StepFiles view_;
};
