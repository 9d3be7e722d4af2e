// The simulator's answers without any socket: logins checked by the password digest as the
// client sends it, the symbol list with and without its end, and the registrations a quote
// stream follows per connection.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "sim/request_desk.h"
#include "tools/md5.h"

namespace {

std::string md5_of(const std::string& text) {
    char hex[33];
    KESTRO::TOOLS::md5_hex(text.data(), static_cast<std::uint32_t>(text.size()), hex);
    return hex;
}

sim::request login(const std::string& user, const std::string& password) {
    sim::request req;
    req.type = 'L';
    req.user_id = user;
    req.password_md5 = md5_of(password);
    return req;
}

sim::request symbol_request(char type, const std::string& symbol, char exchange = 'G') {
    sim::request req;
    req.type = type;
    req.exchange_code = exchange;
    req.symbol = symbol;
    return req;
}

sim::sim_options alice_only() {
    sim::sim_options options;
    options.users = {{"alice", "s3cret"}, {"bob", ""}};
    return options;
}

char result_of(const sim::desk_answer& answer) {
    return answer.bytes.size() > 1 ? answer.bytes[1] : '\0';
}

TEST(request_desk, login_is_accepted_only_with_a_known_user_and_the_digest_of_its_password) {
    const sim::request_desk desk(alice_only(), sim::default_instruments());
    sim::client_session session;
    session.number = 4;

    sim::desk_answer answer = desk.answer(session, login("alice", "wrong"));
    ASSERT_EQ(answer.bytes.size(), 24u);
    EXPECT_EQ(answer.bytes[0], 'A');
    EXPECT_EQ(result_of(answer), sim::login_bad_credentials);
    EXPECT_EQ(std::string(answer.bytes.c_str() + 2), "bad user or password");
    EXPECT_FALSE(session.logged_in);
    EXPECT_EQ(answer.event, "client 4: login alice refused (wrong password)");

    answer = desk.answer(session, login("demo", "demo"));  // the default is gone with --user
    EXPECT_EQ(result_of(answer), sim::login_bad_credentials);
    EXPECT_EQ(answer.event, "client 4: login demo refused (unknown user)");

    sim::request lower_case = login("alice", "s3cret");  // the digest is upper-case hex
    for (char& c : lower_case.password_md5) c = static_cast<char>(std::tolower(c));
    EXPECT_EQ(result_of(desk.answer(session, lower_case)), sim::login_bad_credentials);

    answer = desk.answer(session, login("alice", "s3cret"));
    EXPECT_EQ(result_of(answer), 'Y');
    EXPECT_TRUE(session.logged_in);
    EXPECT_EQ(session.user, "alice");
    EXPECT_EQ(answer.event, "client 4: login alice accepted");

    sim::client_session other;
    EXPECT_EQ(result_of(desk.answer(other, login("bob", ""))), 'Y');  // the empty password

    sim::sim_options refusing = alice_only();
    refusing.refuse_login = true;
    const sim::request_desk closed(refusing, sim::default_instruments());
    sim::client_session turned_away;
    EXPECT_EQ(result_of(closed.answer(turned_away, login("alice", "s3cret"))),
              sim::login_refused_by_switch);
    EXPECT_FALSE(turned_away.logged_in);
}

TEST(request_desk, symbol_list_follows_login_and_ends_unless_told_not_to) {
    const auto& list = sim::default_instruments();
    sim::sim_options options;
    const sim::request_desk desk(options, list);
    sim::client_session session;
    sim::request query;
    query.type = 'S';
    EXPECT_EQ(desk.answer(session, query).bytes, "");  // not before login
    desk.answer(session, login("demo", "demo"));
    const std::string bytes = desk.answer(session, query).bytes;
    ASSERT_EQ(bytes.size(), 32 * (list.size() + 1));
    for (std::size_t i = 0; i < list.size(); ++i) {
        const char* entry = bytes.data() + 32 * i;
        EXPECT_EQ(entry[0], 'M');
        EXPECT_NE(entry[2], '1');
        EXPECT_EQ(entry[3], list[i].exchange_code);
        EXPECT_EQ(std::string(entry + 4), list[i].symbol);
    }
    EXPECT_EQ(bytes[32 * list.size() + 2], '1');  // the end of the list

    options.no_list_end = true;
    const sim::request_desk endless(options, list);
    sim::client_session waiting;
    endless.answer(waiting, login("demo", "demo"));
    const std::string open_list = endless.answer(waiting, query).bytes;
    ASSERT_EQ(open_list.size(), 32 * list.size());
    EXPECT_NE(open_list[32 * (list.size() - 1) + 2], '1');
}

TEST(request_desk, registrations_are_tracked_per_session) {
    const sim::request_desk desk(sim::sim_options{}, sim::default_instruments());
    sim::client_session session;
    session.number = 1;
    EXPECT_EQ(result_of(desk.answer(session, symbol_request('N', "0"))), sim::reply_not_logged_in);
    EXPECT_TRUE(session.registered.empty());

    desk.answer(session, login("demo", "demo"));
    sim::desk_answer answer = desk.answer(session, symbol_request('N', "0"));
    ASSERT_EQ(answer.bytes.size(), 32u);
    EXPECT_EQ(answer.bytes[0], 'I');
    EXPECT_EQ(result_of(answer), '0');
    EXPECT_EQ(answer.bytes[3], 'G');  // the request's code and symbol are echoed
    EXPECT_EQ(std::string(answer.bytes.c_str() + 4), "0");
    EXPECT_EQ(answer.event, "client 1: register 0 (Au(T+D)) ok");
    EXPECT_EQ(session.registered.count(0), 1u);

    EXPECT_EQ(result_of(desk.answer(session, symbol_request('N', "0"))),
              sim::reply_already_registered);
    EXPECT_EQ(result_of(desk.answer(session, symbol_request('N', "cu2506", 'S'))), '0');
    EXPECT_EQ(result_of(desk.answer(session, symbol_request('N', "XX9999", 'S'))),
              sim::reply_unknown_symbol);
    EXPECT_EQ(session.registered.size(), 2u);

    answer = desk.answer(session, symbol_request('R', "0"));
    EXPECT_EQ(answer.bytes[0], 'F');
    EXPECT_EQ(result_of(answer), '0');
    EXPECT_EQ(session.registered.count(0), 0u);
    EXPECT_EQ(result_of(desk.answer(session, symbol_request('R', "0"))), sim::reply_unknown_symbol);
    EXPECT_EQ(session.registered.size(), 1u);

    sim::request junk;
    junk.type = 'Z';
    junk.unknown = true;
    junk.raw = "Zxyz";
    answer = desk.answer(session, junk);
    EXPECT_EQ(answer.bytes, "");
    EXPECT_NE(answer.event.find("unknown request type 0x5A"), std::string::npos);
}

}  // namespace
