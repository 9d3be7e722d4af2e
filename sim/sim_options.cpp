#include "sim/sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace sim {

namespace {

// The login message carries at most 15 characters of user id and the password's digest is
// taken over at most 32 characters, so longer credentials could never log in.
constexpr std::size_t max_user = 15;
constexpr std::size_t max_password = 32;

bool read_number(const std::string& text, double low, double high, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return false;
    if (value < low || value > high) return false;
    out = value;
    return true;
}

bool read_whole(const std::string& text, double low, double high, double& out) {
    return text.find_first_not_of("0123456789") == std::string::npos &&
           read_number(text, low, high, out);
}

// Four numbers of 0 to 255 with dots between them, each of one to three digits: the form
// a listen address is given in ("0.0.0.0" for every interface). No name is looked up.
bool dotted_ipv4(const std::string& text) {
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t end = part < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos || end == start || end - start > 3) return false;
        double value = 0;
        if (!read_whole(text.substr(start, end - start), 0, 255, value)) return false;
        start = end + 1;
    }
    return true;
}

std::string check_user(const std::string& text, std::pair<std::string, std::string>& out) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return "--user wants NAME:PASSWORD";
    out.first = text.substr(0, colon);
    out.second = text.substr(colon + 1);
    if (out.first.size() > max_user) return "--user: a name has at most 15 characters";
    if (out.second.size() > max_password) return "--user: a password has at most 32 characters";
    return {};
}

using setter = std::function<std::string(sim_options&, const std::string&)>;

// The switches that take a value; each setter returns a complaint or "".
const std::map<std::string, setter>& valued_switches() {
    static const std::map<std::string, setter> table = {
        {"--port",
         [](sim_options& o, const std::string& v) -> std::string {
             double port = 0;
             if (!read_whole(v, 0, 65535, port)) return "--port wants a number from 0 to 65535";
             o.port = static_cast<std::uint16_t>(port);
             return {};
         }},
        {"--bind",
         [](sim_options& o, const std::string& v) -> std::string {
             if (v == "localhost") {
                 o.bind = "127.0.0.1";
             } else if (dotted_ipv4(v)) {
                 o.bind = v;
             } else {
                 return "--bind wants a dotted IPv4 address, such as 0.0.0.0 or 127.0.0.1";
             }
             return {};
         }},
        {"--user",
         [](sim_options& o, const std::string& v) {
             std::pair<std::string, std::string> user;
             std::string error = check_user(v, user);
             if (error.empty()) o.users.push_back(user);
             return error;
         }},
        {"--rate",
         [](sim_options& o, const std::string& v) -> std::string {
             if (!read_number(v, 0.01, 100000, o.rate)) return "--rate wants 0.01 to 100000";
             return {};
         }},
        {"--heartbeat",
         [](sim_options& o, const std::string& v) -> std::string {
             if (!read_number(v, 0, 3600, o.heartbeat_seconds)) {
                 return "--heartbeat wants 0 to 3600 seconds";
             }
             return {};
         }},
        {"--drop-after",
         [](sim_options& o, const std::string& v) -> std::string {
             if (!read_number(v, 0.01, 86400, o.drop_after_seconds)) {
                 return "--drop-after wants 0.01 to 86400 seconds";
             }
             return {};
         }},
        {"--garbage-every",
         [](sim_options& o, const std::string& v) -> std::string {
             double n = 0;
             if (!read_whole(v, 1, 1000000000, n)) return "--garbage-every wants a count >= 1";
             o.garbage_every = static_cast<unsigned>(n);
             return {};
         }},
        {"--replay",
         [](sim_options& o, const std::string& v) -> std::string {
             if (v.empty()) return "--replay wants a capture file";
             o.replay = v;
             return {};
         }},
        {"--speed",
         [](sim_options& o, const std::string& v) -> std::string {
             if (v == "max") {
                 o.replay_speed = 0;
             } else if (!read_number(v, 0.01, 100000, o.replay_speed)) {
                 return "--speed wants max or a factor from 0.01 to 100000";
             }
             return {};
         }},
        {"--seed",
         [](sim_options& o, const std::string& v) -> std::string {
             double seed = 0;
             if (!read_whole(v, 0, 9007199254740992.0, seed)) return "--seed wants a number";
             o.seed = static_cast<std::uint64_t>(seed);
             return {};
         }},
    };
    return table;
}

std::string set_flag(sim_options& o, const std::string& name) {
    if (name == "--refuse-login") {
        o.refuse_login = true;
    } else if (name == "--no-list-end") {
        o.no_list_end = true;
    } else if (name == "--split") {
        o.split = true;
    } else if (name == "--loop") {
        o.replay_loop = true;
    } else if (name == "--help" || name == "-h") {
        o.help = true;
    } else {
        return "unknown option " + name;
    }
    return {};
}

}  // namespace

parsed_options parse_sim_options(const std::vector<std::string>& args) {
    parsed_options result;
    for (std::size_t i = 0; i < args.size() && result.error.empty(); ++i) {
        std::string name = args[i];
        std::string value;
        bool has_value = false;
        const std::size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            has_value = true;
        }
        const auto found = valued_switches().find(name);
        if (found == valued_switches().end()) {
            result.error = has_value ? name + " takes no value" : set_flag(result.options, name);
            continue;
        }
        if (!has_value) {
            if (i + 1 >= args.size()) {
                result.error = name + " wants a value";
                continue;
            }
            value = args[++i];
        }
        result.error = found->second(result.options, value);
    }
    const sim_options& o = result.options;
    if (result.error.empty() && o.replay.empty() && (o.replay_loop || o.replay_speed != 1)) {
        result.error = "--speed and --loop go with --replay";
    }
    if (result.error.empty() && !o.replay.empty() && o.garbage_every > 0) {
        result.error = "--garbage-every goes with the invented market, not with --replay";
    }
    return result;
}

std::vector<std::pair<std::string, std::string>> effective_users(const sim_options& options) {
    if (!options.users.empty()) return options.users;
    return {{"demo", "demo"}};
}

std::string sim_usage(const std::string& program) {
    return "Usage: " + program +
           " [options]\n"
           "A quote server for trying and testing quote clients: it answers logins, the symbol\n"
           "list and registrations, and streams synthetic quotes for every registered symbol.\n"
           "\n"
           "  --port N            listen on port N (default 7100; 0 picks a free one)\n"
           "  --bind ADDRESS      listen on this IPv4 address (default 127.0.0.1; 0.0.0.0\n"
           "                      listens on every interface, for clients on other machines)\n"
           "  --user NAME:PASS    accept this user (repeatable; default demo:demo); the\n"
           "                      password's MD5 digest is checked as the client sends it\n"
           "  --rate R            quotes per second per registered symbol (default 5)\n"
           "  --heartbeat S       a heartbeat to every logged-in client each S seconds\n"
           "                      (default 3; 0 sends none)\n"
           "  --seed N            seed of the price walk and of the faults (default: random)\n"
           "\n"
           "Faults, for testing clients:\n"
           "  --refuse-login      refuse every login\n"
           "  --no-list-end       send the symbol list without its end message\n"
           "  --drop-after S      close each connection S seconds after accepting it\n"
           "  --split             send every write in random pieces\n"
           "  --garbage-every N   send a block of junk bytes after every N quotes\n"
           "\n"
           "Replay, instead of the invented market:\n"
           "  --replay FILE       serve the quotes of a capture (written by quote_recorder):\n"
           "                      the symbol list is the capture's symbols, and each client\n"
           "                      that registers them gets the capture from its first quote\n"
           "  --speed F           F times the recorded pace (default 1), or max: as fast as\n"
           "                      the client takes them\n"
           "  --loop              start over at the end of the capture\n"
           "\n"
           "  --version           print the version and exit\n"
           "  -h, --help          this text\n"
           "\n"
           "Every client event is logged as one line on standard error. Any number of clients\n"
           "may connect (up to 63 at a time). Ctrl-C stops the server.\n"
           "Symbols: the metals \"0\" to \"4\" (Au(T+D), Ag(T+D), mAu(T+D), Au(T+N1),\n"
           "Au(T+N2); exchange code G) and futures under the exchange codes S (SHFE),\n"
           "D (DCE), Z (CZCE), C (CFFEX) and E (INE). Quote fields: docs/quote-fields.md.\n";
}

}  // namespace sim
