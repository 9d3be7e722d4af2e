// Cutting a client's byte stream into requests, without sockets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "request_bytes.h"
#include "sim/request_cutter.h"

namespace {

using namespace sim_test;

std::vector<sim::request> feed(sim::request_cutter& cutter, const std::string& bytes) {
    return cutter.feed(bytes.data(), bytes.size(), 0);
}

}  // namespace

TEST(RequestCutter, OneRequestCutAtEveryOffsetComesOutOnceWhole) {
    const std::string stream = login("u") + reg('N', '1', "0");
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        sim::request_cutter cutter(0);
        auto first = feed(cutter, stream.substr(0, cut));
        auto second = feed(cutter, stream.substr(cut));
        first.insert(first.end(), second.begin(), second.end());
        ASSERT_EQ(first.size(), 2u) << "cut at " << cut;
        EXPECT_EQ(first[0].raw, login("u")) << "cut at " << cut;
        EXPECT_EQ(first[1].symbol, "0") << "cut at " << cut;
        EXPECT_EQ(cutter.pending(), 0u);
    }
}

TEST(RequestCutter, UnknownByteTakesTheRestOfItsReadAndNothingIsKept) {
    sim::request_cutter cutter(0);
    const std::string partial = query().substr(0, 3);
    EXPECT_TRUE(feed(cutter, partial).empty());
    EXPECT_EQ(cutter.pending(), 3u);
    // The partial query completes; then a server message type, which a client never sends.
    const std::string rest = query().substr(3) + "A" + heartbeat(5);
    const auto got = feed(cutter, rest);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].type, 'S');
    EXPECT_TRUE(got[1].unknown);
    EXPECT_EQ(got[1].type, 'A');
    EXPECT_EQ(got[1].raw, "A" + heartbeat(5));
    EXPECT_EQ(cutter.pending(), 0u);
    // The next read starts afresh.
    const auto after = feed(cutter, heartbeat(6));
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].send_time, 6);
}
