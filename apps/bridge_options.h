// Internal to quote_bridge: its command line, parsed and checked, and its --help text. Plain
// values and functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "session_options.h"

struct bridge_options {
    session_options session;
    std::string redis_host = "127.0.0.1";
    int redis_port = 6379;
    std::string redis_user;      // an ACL user; empty: the default user
    std::string redis_password;  // from the environment, never from the command line
    std::string prefix = "orvq";
    std::uint64_t maxlen = 0;  // about this many entries per stream; 0: no trimming
    // Quotes held for the publisher while Redis is slow or away (twice: the publisher works
    // on the other half; 354 bytes each): seconds of an ordinary feed before quotes are lost.
    std::size_t queue = 32768;
    double status_every_s = 5;  // 0: no status lines
    bool help = false;

    std::string redis_address() const;  // "HOST:PORT"
};

// The environment variable the Redis password is read from.
constexpr const char* redis_password_variable = "ORVQ_REDIS_PASSWORD";

// Reads the arguments after the program name and `password` (the variable's value, or null);
// "" or the first complaint. --help alone is never one.
std::string parse_bridge_options(int argc, const char* const* argv, const char* password,
                                 bridge_options& o);

// The --help text.
std::string bridge_usage();
