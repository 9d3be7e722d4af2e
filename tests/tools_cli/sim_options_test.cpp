// The simulator's command line: the defaults the README relies on, every switch in both
// spellings, repeatable users, and complaints about anything malformed.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sim/sim_options.h"

namespace {

using sim::parse_sim_options;
using args = std::vector<std::string>;

TEST(sim_options, no_arguments_give_a_working_server) {
    const sim::parsed_options parsed = parse_sim_options({});
    ASSERT_EQ(parsed.error, "");
    const sim::sim_options& o = parsed.options;
    EXPECT_EQ(o.port, 7100);
    EXPECT_EQ(o.bind, "127.0.0.1");
    EXPECT_EQ(o.rate, 5.0);
    EXPECT_GT(o.heartbeat_seconds, 0.0);
    EXPECT_FALSE(o.refuse_login || o.no_list_end || o.split || o.help);
    EXPECT_EQ(o.drop_after_seconds, 0.0);
    EXPECT_EQ(o.garbage_every, 0u);
    const auto users = sim::effective_users(o);
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0], std::make_pair(std::string("demo"), std::string("demo")));
}

TEST(sim_options, every_switch_is_read_in_both_spellings_and_users_repeat) {
    const sim::parsed_options spaced =
        parse_sim_options({"--port", "7200", "--bind", "localhost", "--rate", "2.5", "--heartbeat",
                           "0", "--refuse-login", "--no-list-end", "--drop-after", "1.5", "--split",
                           "--garbage-every", "7", "--seed", "12345"});
    ASSERT_EQ(spaced.error, "");
    const sim::sim_options& o = spaced.options;
    EXPECT_EQ(o.port, 7200);
    EXPECT_EQ(o.bind, "127.0.0.1");
    EXPECT_EQ(o.rate, 2.5);
    EXPECT_EQ(o.heartbeat_seconds, 0.0);
    EXPECT_TRUE(o.refuse_login);
    EXPECT_TRUE(o.no_list_end);
    EXPECT_EQ(o.drop_after_seconds, 1.5);
    EXPECT_TRUE(o.split);
    EXPECT_EQ(o.garbage_every, 7u);
    EXPECT_EQ(o.seed, 12345u);

    const sim::parsed_options joined =
        parse_sim_options({"--port=0", "--rate=100", "--garbage-every=1", "--user=a:b"});
    ASSERT_EQ(joined.error, "");
    EXPECT_EQ(joined.options.port, 0);
    EXPECT_EQ(joined.options.rate, 100.0);
    EXPECT_EQ(joined.options.garbage_every, 1u);
    ASSERT_EQ(joined.options.users.size(), 1u);

    EXPECT_TRUE(parse_sim_options({"--help"}).options.help);
    EXPECT_TRUE(parse_sim_options({"-h"}).options.help);

    // Users repeat and replace the default.
    const sim::parsed_options parsed =
        parse_sim_options({"--user", "alice:s3cret", "--user", "bob:", "--user", "carol:a:b"});
    ASSERT_EQ(parsed.error, "");
    const auto users = sim::effective_users(parsed.options);
    ASSERT_EQ(users.size(), 3u);
    EXPECT_EQ(users[0], std::make_pair(std::string("alice"), std::string("s3cret")));
    EXPECT_EQ(users[1].second, "");     // an empty password is a password too
    EXPECT_EQ(users[2].second, "a:b");  // only the first colon separates
}

TEST(sim_options, malformed_command_lines_are_refused_with_a_reason) {
    const std::vector<args> bad = {
        {"--frobnicate"},
        {"extra"},
        {"--port"},
        {"--port", "70000"},
        {"--port", "12ab"},
        {"--port", "-1"},
        {"--bind", "0.0.0.0"},
        {"--bind", "192.168.1.5"},
        {"--rate", "0"},
        {"--rate", "-3"},
        {"--rate", "fast"},
        {"--rate", "nan"},
        {"--heartbeat", "-1"},
        {"--drop-after", "0"},
        {"--garbage-every", "0"},
        {"--garbage-every", "2.5"},
        {"--user", "nocolon"},
        {"--user", ":password"},
        {"--user", "a-name-of-sixteen:pw"},
        {"--user", "u:" + std::string(33, 'p')},
        {"--split=yes"},
        {"--seed", "x"},
    };
    for (const args& line : bad) {
        const sim::parsed_options parsed = parse_sim_options(line);
        std::string shown;
        for (const std::string& word : line) shown += word + " ";
        EXPECT_NE(parsed.error, "") << "accepted: " << shown;
    }
    EXPECT_NE(parse_sim_options({"--rate"}).error.find("--rate"), std::string::npos);
}

}  // namespace
