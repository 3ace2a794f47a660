// The cores a process may use: the CPU quota's text, and the affinity mask, which confine a
// process to fewer cores than the machine has.
#include <gtest/gtest.h>

#include <sched.h>

#include <string_view>

#include "../../runtime/cores_internal.h"
#include "mvb/cores.h"

namespace {

TEST(UsableCores, AQuotaAllowsItsCoresRoundedUp) {
    struct Case {
        std::string_view cpuMax;
        unsigned cores;
    };
    const Case cases[] = {
        {"max 100000\n", 0},   {"100000 100000\n", 1}, {"150000 100000\n", 2},
        {"50000 100000\n", 1}, {"400000 100000", 4},   {"", 0},
        {"100000\n", 0},       {"12x 100000\n", 0},    {"100000 0\n", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mvb::cores::ofCpuMax(c.cpuMax), c.cores) << '"' << c.cpuMax << '"';
    EXPECT_EQ(mvb::cores::ofCfsQuota("250000\n", "100000\n"), 3u);
    EXPECT_EQ(mvb::cores::ofCfsQuota("-1\n", "100000\n"), 0u);
}

TEST(UsableCores, AThreadBoundToOneCoreHasOne) {
    cpu_set_t mask;
    ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
    const unsigned allowed = static_cast<unsigned>(CPU_COUNT(&mask));
    EXPECT_GE(mvbUsableCores(), 1u);
    EXPECT_LE(mvbUsableCores(), allowed);
    int first = 0;
    while (!CPU_ISSET(first, &mask))
        ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const unsigned bound = mvbUsableCores();
    ASSERT_EQ(sched_setaffinity(0, sizeof mask, &mask), 0);
    EXPECT_EQ(bound, 1u);
}

}  // namespace
