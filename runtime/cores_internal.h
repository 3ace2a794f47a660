#pragma once

// How the runtime finds the cores a process may use. Private to the runtime library; exported
// for its tests.

#include <string_view>

#include "mvb/export.h"

namespace mvb::cores {

/// The whole cores a cgroup's `cpu.max` text allows, its quota over its period rounded up
/// ("150000 100000" allows 2); 0 when it sets no limit ("max 100000") or cannot be read.
MVB_API unsigned ofCpuMax(std::string_view text) noexcept;
/// The same of an older cgroup's `cpu.cfs_quota_us` and `cpu.cfs_period_us` texts ("-1" for
/// the quota sets no limit).
MVB_API unsigned ofCfsQuota(std::string_view quota, std::string_view period) noexcept;

}  // namespace mvb::cores
