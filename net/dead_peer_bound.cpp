#include "net/dead_peer_bound.h"

#include <cerrno>
#include <cstdlib>

long dead_peer_bound_from(const char* value) {
    if (value == nullptr || *value == '\0') return dead_peer_bound_default_ms;
    char* end = nullptr;
    errno = 0;
    const long long asked = std::strtoll(value, &end, 10);
    if (*end != '\0' || errno == ERANGE) return dead_peer_bound_default_ms;
    if (asked == 0) return 0;
    if (asked < dead_peer_bound_min_ms) return dead_peer_bound_min_ms;
    if (asked > dead_peer_bound_max_ms) return dead_peer_bound_max_ms;
    return static_cast<long>(asked);
}

platform::dead_peer_bound dead_peer_options(long bound_ms) {
    const long idle_s = (bound_ms + 999) / 1000;
    const long interval_s = (bound_ms + 4999) / 5000;
    return {bound_ms, idle_s, interval_s, 3};
}

std::string apply_dead_peer_bound(platform::socket_t s) {
    const long bound_ms = dead_peer_bound_from(std::getenv(dead_peer_bound_variable));
    if (bound_ms == 0) return "";
    const std::string refused =
        platform::socket_set_dead_peer_bound(s, dead_peer_options(bound_ms));
    if (refused.empty()) return "";
    return "dead-peer bound: the system refused " + refused +
           "; the connection goes on regardless\n";
}
