// Internal to the programs we ship. The quote server's side of the command line that
// quote_recorder and quote_bridge share: the server, the login, the symbols or --all, and
// --seconds, parsed and checked the same way in both. Plain values and functions; any thread.
#pragma once

#include <cstdint>
#include <functional>
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

// A program's own option that takes a value: "" or what is wrong with the value.
using take_option_fn = std::function<std::string(const std::string& arg, const std::string& value)>;

// Reads the arguments after the program name: -h and --help set `help`, --all and the symbols
// go to `o`, and an option that takes a value goes to `o` when it is one of the session's, or
// to `take` when it is one of `valued`. "" or the first complaint; --help alone is never one.
std::string parse_command_line(int argc, const char* const* argv,
                               const std::vector<std::string>& valued, const take_option_fn& take,
                               session_options& o, bool& help);

// "" when the options can log in and name something to receive, else the complaint.
std::string check_session(const session_options& o);
