// Internal to the simulator command, the demo and their tests. The simulator's settings and
// their command line: every switch with its default, the parser and the help text. Plain
// values and functions: safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// Every setting of the simulator, with the value it has when no switch names it.
struct sim_options {
    std::uint16_t port = 7100;  // 0 picks a free port
    std::string bind = "127.0.0.1";
    // Accepted users and their clear passwords. Empty on the command line means demo:demo.
    std::vector<std::pair<std::string, std::string>> users;
    double rate = 5.0;               // quotes per second per registered symbol
    double heartbeat_seconds = 3.0;  // 0: no heartbeats
    bool refuse_login = false;       // refuse every login, whatever the credentials
    bool no_list_end = false;        // never end the symbol list
    double drop_after_seconds = 0;   // close each connection this long after accepting; 0 never
    bool split = false;              // cut every write into random pieces
    unsigned garbage_every = 0;      // a block of junk after every N quotes; 0 never
    std::uint64_t seed = 0;          // of the price walk and the faults; 0 picks one
    std::string replay;              // a capture to serve instead of the invented market
    double replay_speed = 1;         // times the recorded pace; 0 as fast as clients take them
    bool replay_loop = false;        // start the capture over at its end
    bool help = false;
};

// The options, or the first complaint about the command line (error not empty).
struct parsed_options {
    sim_options options;
    std::string error;
};

// Reads the arguments after the program name. Unknown switches, missing or malformed values
// and values out of range are errors; --help alone is never one.
parsed_options parse_sim_options(const std::vector<std::string>& args);

// The --help text.
std::string sim_usage(const std::string& program);

// The users to accept: `options.users`, or demo:demo when there are none.
std::vector<std::pair<std::string, std::string>> effective_users(const sim_options& options);

}  // namespace sim
