#include "tools/map_str.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::map_str;

// Random keys of 0 to 12 characters, high bytes included, some of them over the limit of 10.
std::vector<std::string> make_key_pool(std::mt19937& random, std::size_t count) {
    std::uniform_int_distribution<int> length(0, 12);
    std::uniform_int_distribution<int> byte(1, 255);
    std::vector<std::string> pool;
    for (std::size_t i = 0; i < count; ++i) {
        std::string key;
        for (int n = length(random); n > 0; --n) key.push_back(static_cast<char>(byte(random)));
        pool.push_back(key);
    }
    return pool;
}

TEST(MapStrModel, RandomOperationsMatchStdMap) {
    constexpr std::size_t max_key = 10;
    std::mt19937 random(20240611u);
    const std::vector<std::string> pool = make_key_pool(random, 400);
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::uniform_int_distribution<int> operation(0, 99);

    map_str<long, max_key> map(3);
    std::map<std::string, long> model;
    for (long step = 0; step < 5000; ++step) {
        const std::string& key = pool[pick(random)];
        const bool fits = key.size() <= max_key;
        const int op = operation(random);
        if (op < 45) {
            EXPECT_EQ(map.insert(key.c_str(), step), fits);
            if (fits) model[key] = step;
        } else if (op < 70) {
            map.erase(key.c_str());
            model.erase(key);
        } else if (op < 85) {
            EXPECT_EQ(map.contains(key.c_str()), model.count(key) == 1);
        } else if (op < 99) {
            long& value = map.get(key.c_str());
            if (fits) {
                EXPECT_EQ(value, model[key]);  // zero when it was absent
                value += 1;
                model[key] += 1;
            } else {
                EXPECT_EQ(value, 0);
            }
        } else {
            map.clear();
            model.clear();
        }
        ASSERT_EQ(map.size(), model.size()) << "step " << step;
    }

    // The walk visits every element once, in bucket order.
    std::map<std::string, long> walked;
    std::uint64_t last_bucket = 0;
    for (auto it = map.begin(); it != map.end(); ++it) {
        std::uint64_t bucket = decltype(map)::hash(it.key()) & (map.bucket_count() - 1);
        EXPECT_GE(bucket, last_bucket);
        last_bucket = bucket;
        EXPECT_TRUE(walked.emplace(it.key(), it.value()).second) << "visited twice";
    }
    EXPECT_EQ(walked, model);
    EXPECT_GE(map.bucket_count(), 4u);
}

TEST(MapStrModel, LockPolicySerialisesSingleOperations) {
    map_str<int, 16, critical_lock> map(4);
    constexpr int per_thread = 2000;
    auto fill = [&map](char prefix) {
        for (int i = 0; i < per_thread; ++i) {
            std::string key = prefix + std::to_string(i);
            map.insert(key.c_str(), i + 1);
            EXPECT_TRUE(map.contains(key.c_str()));
        }
    };
    std::thread first(fill, 'a');
    std::thread second(fill, 'b');
    first.join();
    second.join();

    EXPECT_EQ(map.size(), 2u * per_thread);
    for (int i = 0; i < per_thread; ++i) {
        EXPECT_EQ(map.get(("a" + std::to_string(i)).c_str()), i + 1);
        EXPECT_EQ(map.get(("b" + std::to_string(i)).c_str()), i + 1);
    }
}

}  // namespace
