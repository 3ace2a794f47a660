#pragma once

#include "mvb/export.h"

/// The cores this process may run on at once, which is what a count of threads to start goes
/// by: those its CPU affinity allows (taskset, a batch system's cpuset), and no more than its
/// cgroup's CPU quota (a container's CPU limit, rounded up). At least 1. The machine's core
/// count says more than either whenever a process is confined to part of the machine.
MVB_API unsigned mvbUsableCores() noexcept;
