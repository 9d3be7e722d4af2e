// Cutting a client's byte stream into requests, without sockets.
#include "sim/request_cutter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/wire.h"
#include "sim/messages.h"

namespace {

std::vector<sim::request> feed(sim::request_cutter& cutter, const std::string& bytes) {
    return cutter.feed(bytes.data(), bytes.size(), 0);
}

// Every request a client sends, and a heartbeat; then the same stream cut at every offset.
TEST(request_cutter, every_request_cut_at_every_offset_comes_out_once_whole) {
    oqs_login_req login;
    build_login_req(login, "trader", "0123456789ABCDEF0123456789ABCDEF");
    oqs_query_symbol_req query;
    build_query_symbol_req(query);
    oqs_reg_symbol_req reg;
    build_reg_symbol_req(reg, 'N', '\xC8', "cu2506");
    oqs_heartbeat beat;
    build_heartbeat(beat, -7);
    const std::string stream =
        sim::bytes_of(login) + sim::bytes_of(query) + sim::bytes_of(reg) + sim::bytes_of(beat);
    for (std::size_t cut = 0; cut < stream.size(); ++cut) {
        sim::request_cutter cutter(3);
        auto got = feed(cutter, stream.substr(0, cut));
        for (const sim::request& r : feed(cutter, stream.substr(cut))) got.push_back(r);
        ASSERT_EQ(got.size(), 4u) << "cut at " << cut;
        EXPECT_EQ(got[0].raw, sim::bytes_of(login));
        EXPECT_TRUE(got[0].user_id == "trader" &&
                    got[0].password_md5 == "0123456789ABCDEF0123456789ABCDEF");
        EXPECT_TRUE(got[1].type == 'S' && got[2].exchange_code == '\xC8' &&
                    got[2].symbol == "cu2506");
        EXPECT_TRUE(got[3].send_time == -7 && got[3].connection == 3u);
    }
    // A server message type is one a client never sends: it takes the rest of its read along,
    // and the next read starts afresh.
    sim::request_cutter cutter(0);
    const auto bad = feed(cutter, "A" + sim::bytes_of(beat));
    EXPECT_TRUE(bad.size() == 1 && bad[0].unknown && bad[0].raw == "A" + sim::bytes_of(beat));
    EXPECT_EQ(feed(cutter, sim::bytes_of(beat)).size(), 1u);
}

}  // namespace
