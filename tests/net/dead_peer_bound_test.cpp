#include "net/dead_peer_bound.h"

#include <gtest/gtest.h>

TEST(dead_peer_bound, the_variable_is_whole_milliseconds_clamped_and_zero_switches_it_off) {
    EXPECT_EQ(dead_peer_bound_from(nullptr), 10000);
    EXPECT_EQ(dead_peer_bound_from(""), 10000);
    EXPECT_EQ(dead_peer_bound_from("12s"), 10000);
    EXPECT_EQ(dead_peer_bound_from("99999999999999999999"), 10000);
    EXPECT_EQ(dead_peer_bound_from("0"), 0);
    EXPECT_EQ(dead_peer_bound_from("-5"), 1000);
    EXPECT_EQ(dead_peer_bound_from("250"), 1000);
    EXPECT_EQ(dead_peer_bound_from("15000"), 15000);
    EXPECT_EQ(dead_peer_bound_from("9999999"), 600000);
    // Keep-alive: idle as long as the bound, then 3 probes a fifth of it apart (whole seconds).
    const platform::dead_peer_bound standard = dead_peer_options(10000);
    EXPECT_EQ(standard.bound_ms, 10000);
    EXPECT_EQ(standard.idle_s, 10);
    EXPECT_EQ(standard.interval_s, 2);
    EXPECT_EQ(standard.probes, 3);
    EXPECT_EQ(dead_peer_options(1500).idle_s, 2);
    EXPECT_EQ(dead_peer_options(1500).interval_s, 1);
}
