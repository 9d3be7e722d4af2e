// The simulator's command line: the defaults the README relies on, the switches the end-to-end
// tests do not use, repeatable users, and complaints about anything malformed.
#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using sim::parse_sim_options;
using users = std::vector<std::pair<std::string, std::string>>;

TEST(sim_options, defaults_switches_users_and_the_malformed) {
    const sim::parsed_options none = parse_sim_options({});
    EXPECT_EQ(none.error, "");
    EXPECT_EQ(none.options.port, 7100);
    EXPECT_EQ(sim::effective_users(none.options), (users{{"demo", "demo"}}));

    const sim::parsed_options some =
        parse_sim_options({"--bind", "localhost", "--refuse-login", "--no-list-end", "--user",
                           "bob:", "--user=carol:a:b", "-h"});
    ASSERT_EQ(some.error, "");
    const sim::sim_options& o = some.options;
    EXPECT_TRUE(o.bind == "127.0.0.1" && o.refuse_login && o.no_list_end && o.help);
    // Users replace the default; an empty password is one; only the first colon separates.
    EXPECT_EQ(sim::effective_users(o), (users{{"bob", ""}, {"carol", "a:b"}}));
    EXPECT_EQ(parse_sim_options({"--bind=0.0.0.0"}).options.bind, "0.0.0.0");

    const std::pair<const char*, const char*> bad[] = {
        {"--frobnicate", "x"},   {"--port", "70000"},        {"--bind", "10.0.0"},
        {"--bind", "1.2.3.256"}, {"--bind", "1.2.3.4.5"},    {"--bind", "example.com"},
        {"--rate", "nan"},       {"--garbage-every", "2.5"}, {"--user", "a-name-of-sixteen:pw"},
        {"--split=yes", "-h"}};
    for (const auto& [name, value] : bad) {
        EXPECT_NE(parse_sim_options({name, value}).error, "") << name;
    }
    EXPECT_NE(parse_sim_options({"--rate"}).error, "");
}

}  // namespace
