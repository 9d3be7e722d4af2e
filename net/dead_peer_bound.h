// Internal. The dead-peer bound of every connection: how long sent data may stay
// unacknowledged, or a quiet connection leave its keep-alive probes unanswered, before the
// system ends the connection and the transport reports it lost. Without it a server whose
// host lost power, or a firewall that drops the path, goes unnoticed for a quarter of an hour
// while the heartbeats go into the void. Safe from any thread.
#pragma once

#include <string>

#include "platform/socket.h"

constexpr long dead_peer_bound_default_ms = 10000;
constexpr long dead_peer_bound_min_ms = 1000;
constexpr long dead_peer_bound_max_ms = 600000;
// The bound in milliseconds, read at each connect; 0 leaves connections to the system's own
// time-outs.
constexpr const char* dead_peer_bound_variable = "ORVQUOTE_DEAD_PEER_MS";

// The bound a value of the variable asks for: the default when there is none or it is not a
// whole number, 0 for 0, any other value clamped to [min, max].
long dead_peer_bound_from(const char* value);

// The options for a bound: keep-alive after as long a quiet stretch, 3 probes a fifth of it
// apart (at least a second), so that a quiet connection ends at about 1.6 times the bound.
platform::dead_peer_bound dead_peer_options(long bound_ms);

// Applies the variable's bound to a connected socket. The line the transport logs when the
// system refused an option (the connection goes on as it is), "" when there is nothing to say.
std::string apply_dead_peer_bound(platform::socket_t s);
