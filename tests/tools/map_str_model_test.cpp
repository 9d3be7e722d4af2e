#include "map_str_model.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

TEST(map_str, matches_std_map_under_random_operations) {
    std::mt19937 random(20240611u);
    for (int run = 0; run < 100; ++run) {
        std::vector<std::uint8_t> input(1 + random() % 8000);
        for (auto& b : input) b = static_cast<std::uint8_t>(random());
        ASSERT_EQ(map_str_model::run(input.data(), input.size()), "") << "run " << run;
    }
}

TEST(map_str, bucket_count_from_the_hint) {
    const std::pair<std::uint64_t, std::uint64_t> cases[] = {
        {0, 1},     {1, 1},     {2, 2},     {3, 4},     {5, 8},     {11, 16},
        {100, 128}, {111, 128}, {128, 128}, {129, 128}, {181, 256}, {1000, 1024}};
    for (const auto& [hint, buckets] : cases) {
        EXPECT_EQ(map_str_model::map(hint).bucket_count(), buckets) << "hint " << hint;
    }
}

}  // namespace
