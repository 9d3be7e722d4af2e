// The simulator's one answer engine, byte for byte and without sockets: the login rules and
// the users' digests, and a strict server's view of what each connection may ask.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sim/messages.h"
#include "sim/reply_script.h"

namespace {

const char* const digest = "0123456789ABCDEF0123456789ABCDEF";

sim::request ask(char type, const std::string& symbol = "", char exchange = '2') {
    sim::request r;
    r.type = type;
    r.symbol = symbol;
    r.exchange_code = exchange;
    return r;
}

sim::request login(const std::string& user, const std::string& md5 = digest) {
    sim::request r = ask('L');
    r.user_id = user;
    r.password_md5 = md5;
    return r;
}

TEST(answer_engine, login_rules_then_the_users_digests) {
    sim::reply_script script;
    script.relogin = sim::login_answer{'N', "relogin refused", false};
    script.nth_login[3] = sim::login_answer{'Y', "", true};
    sim::session s;
    auto answer = [&](const sim::request& r, std::size_t n) {
        return sim::scripted_reply(script, s, r, n);
    };
    EXPECT_EQ(answer(login("anyone"), 1).bytes, sim::login_reply_bytes('Y', ""));
    EXPECT_TRUE(s.logged_in);
    EXPECT_EQ(answer(login("anyone"), 2).bytes, sim::login_reply_bytes('N', "relogin refused"));
    EXPECT_FALSE(s.logged_in);
    EXPECT_EQ(answer(login("anyone"), 3).bytes, "");

    script.users["alice"] = digest;
    EXPECT_EQ(answer(login("alice"), 1).event, "client 0: login alice accepted");
    EXPECT_EQ(s.user, "alice");
    const sim::reply wrong = answer(login("alice", "0123456789abcdef0123456789abcdef"), 1);
    EXPECT_EQ(wrong.bytes, sim::login_reply_bytes('P', "bad user or password"));
    EXPECT_EQ(wrong.event, "client 0: login alice refused (wrong password)");
    EXPECT_FALSE(s.logged_in);
    EXPECT_EQ(answer(login("bob"), 1).event, "client 0: login bob refused (unknown user)");
    // A refusal by the rules stays that refusal, whoever logs in.
    EXPECT_EQ(answer(login("alice"), 2).bytes, sim::login_reply_bytes('N', "relogin refused"));
}

TEST(answer_engine, strict_server_follows_each_connection) {
    sim::reply_script script;
    script.strict = true;
    script.quotes_after_register = 1;
    sim::session s;
    auto answer = [&](const sim::request& r) { return sim::scripted_reply(script, s, r, 1).bytes; };
    EXPECT_EQ(answer(ask('S')), "");
    EXPECT_EQ(answer(ask('N', "SIMA01")), sim::register_reply_bytes('L', '2', "SIMA01"));
    answer(login("u"));
    std::string list;
    for (const auto& entry : sim::sample_symbols()) {
        list += sim::symbol_bytes(entry.exchange_code, entry.symbol);
    }
    EXPECT_EQ(answer(ask('S')), list + sim::symbol_end_bytes());

    EXPECT_EQ(answer(ask('N', "SIMA01")), sim::register_reply_bytes('0', '2', "SIMA01") +
                                              sim::quote_bytes('2', sim::make_quote("SIMA01")));
    EXPECT_EQ(answer(ask('N', "SIMA01")).substr(0, 32),
              sim::register_reply_bytes('2', '2', "SIMA01"));
    EXPECT_EQ(answer(ask('N', "NOPE")), sim::register_reply_bytes('U', '2', "NOPE"));
    script.register_result_for["0"] = '7';
    EXPECT_EQ(answer(ask('N', "0", '1')), sim::register_reply_bytes('7', '1', "0"));
    EXPECT_EQ(s.registered, std::set<std::string>{"SIMA01"});
    EXPECT_EQ(answer(ask('R', "SIMA01")), sim::unregister_reply_bytes('0', '2', "SIMA01"));
    EXPECT_EQ(answer(ask('R', "SIMA01")), sim::unregister_reply_bytes('U', '2', "SIMA01"));
    EXPECT_TRUE(s.registered.empty());

    sim::request beat = ask('H');
    beat.send_time = 42;
    EXPECT_EQ(answer(beat), "");
    script.echo_heartbeat = true;
    EXPECT_EQ(answer(beat), sim::heartbeat_bytes(42));
    sim::request junk = ask('Z');
    junk.unknown = true;
    junk.raw = "Zxy";
    const sim::reply ignored = sim::scripted_reply(script, s, junk, 1);
    EXPECT_EQ(ignored.bytes, "");
    EXPECT_EQ(ignored.event, "client 0: unknown request type 0x5A (3 bytes), ignored");
}

}  // namespace
