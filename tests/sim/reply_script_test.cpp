// What the server answers by itself, byte for byte, without sockets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol/wire.h"
#include "sim/messages.h"
#include "sim/reply_script.h"

namespace {

sim::request make(char type, const std::string& symbol = "", char exchange = 0) {
    sim::request r;
    r.type = type;
    r.symbol = symbol;
    r.exchange_code = exchange;
    return r;
}

}  // namespace

TEST(ReplyScript, LoginRulesByNumberThenReloginThenDefault) {
    sim::reply_script script;
    const sim::request login = make('L');
    EXPECT_EQ(sim::scripted_reply(script, login, 4), sim::login_reply_bytes('Y', ""));

    script.relogin = sim::login_answer{'N', "relogin refused", false};
    script.nth_login[3] = sim::login_answer{'Y', "", true};
    script.nth_login[5] = sim::login_answer{'E', "bad password", false};
    EXPECT_EQ(sim::scripted_reply(script, login, 1), sim::login_reply_bytes('Y', ""));
    EXPECT_EQ(sim::scripted_reply(script, login, 2),
              sim::login_reply_bytes('N', "relogin refused"));
    EXPECT_EQ(sim::scripted_reply(script, login, 3), "");
    const std::string refused = sim::scripted_reply(script, login, 5);
    ASSERT_EQ(refused.size(), LOGIN_RESP_LEN);
    EXPECT_EQ(refused.substr(0, 2), "AE");
    EXPECT_STREQ(refused.c_str() + 2, "bad password");
}

TEST(ReplyScript, RegistrationAnswersEchoTheRequestAndQuotesFollowOnlyAcceptance) {
    sim::reply_script script;
    script.quotes_after_register = 2;
    script.register_result_for["refused"] = 'X';
    script.unregister_result = '5';
    const std::string bytes = sim::scripted_reply(script, make('N', "1", 'G'), 0);
    ASSERT_EQ(bytes.size(), REG_SYMBOL_RESP_LEN + 2 * QUOTE_MSG_LEN);
    EXPECT_EQ(bytes.substr(0, REG_SYMBOL_RESP_LEN), sim::register_reply_bytes('0', 'G', "1"));
    const char* first = bytes.data() + REG_SYMBOL_RESP_LEN;
    EXPECT_EQ(std::string(first, 2), "QG");
    OrvMarketDepthQuoteData quote;
    std::memcpy(&quote, first + 22, sizeof quote);
    EXPECT_STREQ(quote.Symbol, "1");
    EXPECT_STREQ(quote.TradingDay, "20240105");
    EXPECT_NE(bytes.substr(REG_SYMBOL_RESP_LEN, QUOTE_MSG_LEN),
              bytes.substr(REG_SYMBOL_RESP_LEN + QUOTE_MSG_LEN))
        << "successive quotes should differ";

    EXPECT_EQ(sim::scripted_reply(script, make('N', "refused", 'G'), 0),
              sim::register_reply_bytes('X', 'G', "refused"));
    EXPECT_EQ(sim::scripted_reply(script, make('R', "1", 'G'), 0),
              sim::unregister_reply_bytes('5', 'G', "1"));
}

TEST(ReplyScript, HeartbeatsAndUnknownBytesAreNotAnsweredUnlessAsked) {
    sim::reply_script script;
    sim::request beat = make('H');
    beat.send_time = 42;
    EXPECT_EQ(sim::scripted_reply(script, beat, 0), "");
    script.echo_heartbeat = true;
    EXPECT_EQ(sim::scripted_reply(script, beat, 0), sim::heartbeat_bytes(42));
    sim::request garbage = make('L');
    garbage.unknown = true;
    EXPECT_EQ(sim::scripted_reply(script, garbage, 1), "");
}
