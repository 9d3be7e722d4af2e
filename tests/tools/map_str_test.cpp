#include "tools/map_str.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using KESTRO::TOOLS::map_str;
using int_map = map_str<int, 128>;

template <class MAP>
std::vector<std::string> keys_in_order(MAP& map) {
    std::vector<std::string> keys;
    for (auto it = map.begin(); it != map.end(); ++it) keys.emplace_back(it.key());
    return keys;
}

// Two-character keys whose hash lands in the given bucket of a map with bucket_count buckets,
// in a fixed order.
std::vector<std::string> colliding_keys(std::uint64_t bucket, std::uint64_t bucket_count,
                                        std::size_t wanted) {
    std::vector<std::string> keys;
    for (char a = 'A'; a <= 'z' && keys.size() < wanted; ++a) {
        for (char b = 'A'; b <= 'z' && keys.size() < wanted; ++b) {
            std::string key{a, b};
            if ((int_map::hash(key.c_str()) & (bucket_count - 1)) == bucket) keys.push_back(key);
        }
    }
    return keys;
}

TEST(MapStr, HashTakesBytesAsSignedCharacters) {
    EXPECT_EQ(int_map::hash(""), 0u);
    EXPECT_EQ(int_map::hash(nullptr), 0u);
    EXPECT_EQ(int_map::hash("ab"), 3299u);
    EXPECT_EQ(int_map::hash("\xC8"), static_cast<std::uint64_t>(-56));
    EXPECT_EQ(int_map::hash("a\xC8"), 97u * 33u - 56u);

    // In 128 buckets "ab" (3299) lands in bucket 99, between "a" (97) and "d" (100).
    int_map small(111);
    ASSERT_EQ(small.bucket_count(), 128u);
    for (const char* key : {"d", "ab", "a"}) small.insert(key, 1);
    EXPECT_EQ(keys_in_order(small), (std::vector<std::string>{"a", "ab", "d"}));

    // With 1024 buckets the sign shows: the byte 200 puts its key in bucket 1024 - 56 = 968,
    // after "ab" in bucket 227 (taken unsigned it would be bucket 200, before it).
    int_map large(1000);
    ASSERT_EQ(large.bucket_count(), 1024u);
    large.insert("\xC8", 1);
    large.insert("ab", 2);
    EXPECT_EQ(keys_in_order(large), (std::vector<std::string>{"ab", "\xC8"}));
}

TEST(MapStr, BucketCountFromHint) {
    const std::pair<std::uint64_t, std::uint64_t> cases[] = {
        {0, 1},     {1, 1},     {2, 2},     {3, 4},     {5, 8},     {11, 16},
        {100, 128}, {111, 128}, {128, 128}, {129, 128}, {181, 256}, {1000, 1024}};
    for (const auto& [hint, buckets] : cases) {
        map_str<int, 8> map(hint);
        EXPECT_EQ(map.bucket_count(), buckets) << "hint " << hint;
        EXPECT_EQ(map.size(), 0u);
        EXPECT_FALSE(map.begin() != map.end()) << "hint " << hint;
    }
}

TEST(MapStr, KeysOfUpToNCharacters) {
    int_map map(111);
    const std::string longest(128, 'k');
    const std::string too_long(129, 'k');

    EXPECT_TRUE(map.insert(longest.c_str(), 7));
    EXPECT_TRUE(map.contains(longest.c_str()));
    EXPECT_FALSE(map.insert(too_long.c_str(), 8));
    EXPECT_FALSE(map.contains(too_long.c_str()));
    EXPECT_EQ(map.size(), 1u);
    map.erase(too_long.c_str());
    EXPECT_EQ(map.size(), 1u);
    EXPECT_EQ(map.get(longest.c_str()), 7);

    // get cannot store an over-long key: the map stays as it was and the scratch value it
    // hands back is zero again on every such call.
    int& refused = map.get(too_long.c_str());
    EXPECT_EQ(refused, 0);
    refused = 99;
    EXPECT_EQ(map.get(too_long.c_str()), 0);
    EXPECT_EQ(map.size(), 1u);
    EXPECT_EQ(keys_in_order(map), std::vector<std::string>{longest});

    // The null key is the empty text, itself a valid key.
    EXPECT_TRUE(map.insert(nullptr, 3));
    EXPECT_TRUE(map.contains(""));
    EXPECT_EQ(map.get(""), 3);
    map.erase(nullptr);
    EXPECT_FALSE(map.contains(""));
    EXPECT_EQ(map.size(), 1u);
}

TEST(MapStr, InsertReplacesGetCreatesZeroFilled) {
    struct record {
        char code;
        char text[20];
        int number;
    };
    map_str<record, 16> map(8);
    record first{'A', "first", 1};
    EXPECT_TRUE(map.insert("k", first));
    record second{'B', "second", 2};
    EXPECT_TRUE(map.insert("k", second));
    EXPECT_EQ(map.size(), 1u);
    EXPECT_EQ(map.get("k").code, 'B');
    EXPECT_STREQ(map.get("k").text, "second");

    record& fresh = map.get("new");
    EXPECT_EQ(map.size(), 2u);
    const record zero{};
    EXPECT_EQ(std::memcmp(&fresh, &zero, sizeof(record)), 0);
    fresh.number = 42;
    EXPECT_EQ(map.get("new").number, 42);
    EXPECT_EQ(map.size(), 2u);
}

TEST(MapStr, GrowsFourfoldPastSevenTenthsLoad) {
    int_map map(111);
    const std::vector<std::string> chain = colliding_keys(5, 512, 3);
    ASSERT_EQ(chain.size(), 3u);
    for (const std::string& key : chain) map.insert(key.c_str(), 0);

    for (int i = 0; map.size() < 89; ++i) map.insert(("key" + std::to_string(i)).c_str(), i);
    EXPECT_EQ(map.bucket_count(), 128u);
    map.insert("key0", -1);  // a replacement at 89 elements does not grow
    EXPECT_EQ(map.bucket_count(), 128u);
    map.insert("ninetieth", 90);
    EXPECT_EQ(map.bucket_count(), 512u);
    EXPECT_EQ(map.size(), 90u);

    // Every element survived the move, the iteration follows bucket order, and keys that
    // share a bucket before and after kept their order.
    std::vector<std::string> order = keys_in_order(map);
    ASSERT_EQ(order.size(), 90u);
    std::uint64_t last_bucket = 0;
    std::vector<std::string> chain_seen;
    for (const std::string& key : order) {
        std::uint64_t bucket = int_map::hash(key.c_str()) & 511;
        EXPECT_GE(bucket, last_bucket) << key;
        last_bucket = bucket;
        EXPECT_TRUE(map.contains(key.c_str())) << key;
        if (bucket == 5) chain_seen.push_back(key);
    }
    EXPECT_EQ(chain_seen, chain);
    EXPECT_EQ(map.get("key0"), -1);
    EXPECT_EQ(map.get("ninetieth"), 90);

    // Neither erase nor clear shrinks the table.
    map.erase("ninetieth");
    map.clear();
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.bucket_count(), 512u);
    EXPECT_FALSE(map.begin() != map.end());
    EXPECT_FALSE(map.contains("key1"));
}

TEST(MapStr, EraseFromAnyPlaceInAChain) {
    const std::vector<std::string> chain = colliding_keys(99, 128, 4);
    ASSERT_EQ(chain.size(), 4u);
    const std::vector<std::size_t> victims = {0, 1, 3};  // head, middle, tail
    for (std::size_t victim : victims) {
        int_map map(111);
        for (const std::string& key : chain) map.insert(key.c_str(), 1);
        map.insert("a", 2);  // bucket 97, before the chain
        ASSERT_EQ(keys_in_order(map),
                  (std::vector<std::string>{"a", chain[0], chain[1], chain[2], chain[3]}));

        map.erase(chain[victim].c_str());
        std::vector<std::string> expected{"a"};
        for (std::size_t i = 0; i < chain.size(); ++i) {
            if (i != victim) expected.push_back(chain[i]);
        }
        EXPECT_EQ(keys_in_order(map), expected) << "erasing " << victim;
        EXPECT_FALSE(map.contains(chain[victim].c_str()));
        EXPECT_EQ(map.size(), 4u);
        map.erase(chain[victim].c_str());  // already gone
        map.erase("zz");                   // never there
        EXPECT_EQ(map.size(), 4u);
    }
}

TEST(MapStr, IteratorsOfDifferentMapsDiffer) {
    int_map first(4);
    int_map second(4);
    EXPECT_TRUE(first.end() != second.end());
    EXPECT_FALSE(first.end() != first.end());

    first.insert("x", 5);
    auto it = first.begin();
    ASSERT_TRUE(it != first.end());
    EXPECT_STREQ(it.key(), "x");
    it.value() = 6;
    EXPECT_EQ(first.get("x"), 6);
    EXPECT_FALSE(++it != first.end());
}

}  // namespace
