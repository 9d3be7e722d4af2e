// Internal to the programs we ship. The quote server's side of the command line that
// quote_recorder and quote_bridge share: the server, the login, the symbols or --all, and
// --seconds, parsed and checked the same way in both. Plain values and functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct session_options {
    std::string server_ip = "127.0.0.1";
    std::uint16_t server_port = 7100;
    std::string user = "demo";
    std::string password = "demo";
    double seconds = 0;  // 0: until Ctrl-C
    bool all = false;
    std::vector<std::string> symbols;

    std::string server_address() const;  // "IP:PORT"
};

// The --help lines of these options, for a program's usage text.
extern const char* const session_usage;

// Whether `arg` is one of the options above that take a value (--server, --user, ...).
bool is_session_option(const std::string& arg);

// Takes the value of such an option; "" or what is wrong with it.
std::string take_session_option(const std::string& arg, const std::string& value,
                                session_options& o);

// "" when the options can log in and name something to receive, else the complaint.
std::string check_session(const session_options& o);
