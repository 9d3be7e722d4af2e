#include "session_options.h"

#include <algorithm>

#include "command_line.h"

const char* const session_usage =
    "  --server IP:PORT   the quote server (default 127.0.0.1:7100)\n"
    "  --user NAME        user id (default demo)\n"
    "  --password TEXT    password (default demo); only its MD5 digest is sent\n"
    "  --seconds N        stop after N seconds (default: run until Ctrl-C)\n"
    "  --all              register every symbol the server lists\n";

std::string session_options::server_address() const {
    return server_ip + ":" + std::to_string(server_port);
}

namespace {

bool is_session_option(const std::string& arg) {
    return arg == "--server" || arg == "--user" || arg == "--password" || arg == "--seconds";
}

std::string take_session_option(const std::string& arg, const std::string& value,
                                session_options& o) {
    if (arg == "--server" && !parse_server(value, o.server_ip, o.server_port)) {
        return "--server wants IP:PORT";
    }
    if (arg == "--seconds" && !parse_positive(value, o.seconds)) {
        return "--seconds wants a positive number";
    }
    if (arg == "--user") o.user = value;
    if (arg == "--password") o.password = value;
    return {};
}

}  // namespace

std::string parse_command_line(int argc, const char* const* argv,
                               const std::vector<std::string>& valued, const take_option_fn& take,
                               session_options& o, bool& help) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool own = std::find(valued.begin(), valued.end(), arg) != valued.end();
        if (arg == "-h" || arg == "--help") {
            help = true;
        } else if (arg == "--all") {
            o.all = true;
        } else if (own || is_session_option(arg)) {
            if (i + 1 >= argc) return arg + " wants a value";
            const std::string value = argv[++i];
            const std::string error = own ? take(arg, value) : take_session_option(arg, value, o);
            if (!error.empty()) return error;
        } else if (arg.rfind("-", 0) == 0) {
            return "unknown option " + arg;
        } else {
            o.symbols.push_back(arg);
        }
    }
    return {};
}

std::string check_session(const session_options& o) {
    if (o.user.size() > 15) return "--user: at most 15 characters";
    if (o.password.size() > 32) return "--password: at most 32 characters";
    if (!o.all && o.symbols.empty()) return "name the symbols to receive, or --all";
    return {};
}
