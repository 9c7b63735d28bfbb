#include "launcher/LaunchSequence.h"

#include <gtest/gtest.h>

namespace {

TEST(LaunchWaitOver, AfterFiveSecondsAlsoAcrossTheCountersWrap)
{
    const struct {
        DWORD start, now;
        bool over;
    } cases[] = {
        { 1000, 1000, false },
        { 1000, 5999, false },
        { 1000, 6000, true },
        { 1000, 900000, true },
        // The counter wraps between start and now.
        { 0xFFFFEC78u, 0xFFFFFFFFu, false },
        { 0xFFFFEC78u, 0x00000000u, true },
        { 0xFFFFF000u, 0x00000010u, false },
        { 0xFFFFF000u, 0x00000388u, true },
        // start + 5000 wraps past zero while the counter has not yet.
        { 0xFFFFFC18u, 0xFFFFFC18u, false },
        { 0xFFFFFC18u, 0xFFFFFFFFu, false },
        { 0xFFFFFC18u, 0x00000FA0u, true },
    };
    for (const auto& c : cases)
        EXPECT_EQ(LaunchWaitOver(c.start, c.now), c.over) << std::hex << c.start << " " << c.now;
}

} // namespace
