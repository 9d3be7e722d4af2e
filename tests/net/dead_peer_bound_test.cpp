#include "net/dead_peer_bound.h"

#include <gtest/gtest.h>

TEST(dead_peer_bound, the_variable_is_whole_milliseconds_clamped_and_zero_switches_it_off) {
    const char* const values[] = {nullptr, "", "12s", "0", "-5", "15000", "9999999"};
    const long bounds[] = {10000, 10000, 10000, 0, 1000, 15000, 600000};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(dead_peer_bound_from(values[i]), bounds[i]) << i;
    // Keep-alive after as long a quiet stretch, then probes a fifth of it apart, in seconds.
    const platform::dead_peer_bound standard = dead_peer_options(10000);
    EXPECT_EQ(standard.idle_s, 10);
    EXPECT_EQ(standard.interval_s, 2);
}
