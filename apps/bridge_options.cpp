#include "bridge_options.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::uint64_t most_entries = 1000000000000ULL;
constexpr std::uint64_t most_queued = 1000000;

bool all_digits(const std::string& text) {
    return !text.empty() && text.size() <= 13 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// "HOST:PORT": a host name or dotted address and a port from 1 to 65535.
bool parse_redis(const std::string& text, std::string& host, int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon > 253) return false;
    const std::string digits = text.substr(colon + 1);
    if (!all_digits(digits) || digits.size() > 5) return false;
    const long number = std::strtol(digits.c_str(), nullptr, 10);
    if (number < 1 || number > 65535) return false;
    host = text.substr(0, colon);
    port = static_cast<int>(number);
    return host.find_first_of(" \t:") == std::string::npos;
}

// A key prefix: printable, no blanks, at most 64 characters.
bool good_prefix(const std::string& text) {
    return !text.empty() && text.size() <= 64 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 127; });
}

std::string take_bridge_option(const std::string& arg, const std::string& value,
                               bridge_options& o) {
    if (arg == "--redis" && !parse_redis(value, o.redis_host, o.redis_port)) {
        return "--redis wants HOST:PORT";
    }
    if (arg == "--redis-user") o.redis_user = value;
    if (arg == "--prefix") {
        if (!good_prefix(value)) return "--prefix wants 1 to 64 printable characters, no blanks";
        o.prefix = value;
    }
    const std::uint64_t n = all_digits(value) ? std::strtoull(value.c_str(), nullptr, 10) : 0;
    if (arg == "--maxlen") {
        if (n < 1 || n > most_entries) return "--maxlen wants a whole number from 1 to 10^12";
        o.maxlen = n;
    }
    if (arg == "--queue") {
        if (n < 1 || n > most_queued) return "--queue wants a whole number from 1 to 1000000";
        o.queue = static_cast<std::size_t>(n);
    }
    if (arg == "--status") {
        char* end = nullptr;
        const double s = std::strtod(value.c_str(), &end);
        if (value.empty() || end != value.c_str() + value.size() || !(s >= 0) || s > 86400) {
            return "--status wants seconds from 0 (none) to 86400";
        }
        o.status_every_s = s;
    }
    return {};
}

}  // namespace

std::string bridge_options::redis_address() const {
    return redis_host + ":" + std::to_string(redis_port);
}

std::string parse_bridge_options(int argc, const char* const* argv, const char* password,
                                 bridge_options& o) {
    const std::string error = parse_command_line(
        argc, argv, {"--redis", "--redis-user", "--prefix", "--maxlen", "--queue", "--status"},
        [&o](const std::string& arg, const std::string& value) {
            return take_bridge_option(arg, value, o);
        },
        o.session, o.help);
    if (password != nullptr) o.redis_password = password;
    if (o.help || !error.empty()) return error;
    if (!o.redis_user.empty() && o.redis_password.empty()) {
        return std::string("--redis-user wants the password in ") + redis_password_variable;
    }
    return check_session(o.session);
}

std::string bridge_usage() {
    return std::string(
               "Usage: quote_bridge [options] (--all | SYMBOL ...)\n"
               "Publishes every quote of the symbols named (or of every listed symbol) into Redis\n"
               "Streams, one stream per symbol, with the session's events in a stream of their\n"
               "own, until Ctrl-C or --seconds. docs/bridge.md describes the entries.\n"
               "\n") +
           session_usage +
           "  --redis HOST:PORT  the Redis server (default 127.0.0.1:6379)\n"
           "  --redis-user NAME  log in to Redis as this ACL user; the password is taken from\n"
           "                     the environment variable " +
           redis_password_variable +
           " (which alone logs\n"
           "                     in as the default user)\n"
           "  --prefix TEXT      key prefix (default orvq): the streams are PREFIX:q:SYMBOL\n"
           "                     and PREFIX:events\n"
           "  --maxlen N         trim each stream to about N entries (default: no trimming)\n"
           "  --queue N          quotes held while Redis is slow or away (default 32768);\n"
           "                     what does not fit is dropped and counted\n"
           "  --status S         a status line every S seconds (default 5; 0: none)\n"
           "  -h, --help         this text\n"
           "\n"
           "Exit status: 0 done, 1 failed (Redis or the quote server cannot be reached, the\n"
           "login is refused, nothing could be registered, or the library gave the session up\n"
           "after a lost connection), 2 bad command line.\n";
}
