#include "session_options.h"

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

std::string check_session(const session_options& o) {
    if (o.user.size() > 15) return "--user: at most 15 characters";
    if (o.password.size() > 32) return "--password: at most 32 characters";
    if (!o.all && o.symbols.empty()) return "name the symbols to receive, or --all";
    return {};
}
