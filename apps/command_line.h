// Internal to the programs we ship: the command-line values quote_demo, quote_recorder and
// quote_bridge share, parsed the same way. Plain functions; any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// "IP:PORT", an IPv4 text of at most 15 characters and a port from 1 to 65535.
inline bool parse_server(const std::string& text, std::string& ip, std::uint16_t& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon > 15) return false;
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long number = std::strtol(digits.c_str(), nullptr, 10);
    if (number < 1 || number > 65535) return false;
    ip = text.substr(0, colon);
    port = static_cast<std::uint16_t>(number);
    return true;
}

// A number above 0 and at most ten million, written whole.
inline bool parse_positive(const std::string& text, double& out) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !(value > 0) || value > 1e7) {
        return false;
    }
    out = value;
    return true;
}

// Where a program's command line ends it: with its --help text on standard output (status 0),
// or with the complaint and a pointer to --help on standard error (status 2). -1: neither, the
// program goes on.
inline int help_or_complaint(const char* program, bool help, const std::string& usage,
                             const std::string& error) {
    if (help) {
        std::fputs(usage.c_str(), stdout);
        return 0;
    }
    if (error.empty()) return -1;
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, error.c_str(), program);
    return 2;
}
