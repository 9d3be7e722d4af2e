// Internal, shared with the simulator. Cuts a received byte stream into messages: the length
// of a message follows from its type byte alone, so the front of a stream is either a whole
// message, not yet whole, or of a type that the sending side never sends (there is then no
// way to find the next message). Reads only the bytes it is given; no state, any thread.
#pragma once

#include <cstdint>

// Who sent the stream: each side has its own message types ('H' travels both ways).
enum class message_source { client, server };

// The total length of a message of this type from this side; 0 when that side has no such type.
std::uint32_t message_length(char msg_type, message_source from);

struct message_cut {
    std::uint32_t length;  // the front message's length; 0 for a type the sender does not have
    bool whole;            // all of its bytes are there
};

// What stands at the front of `available` bytes (0 bytes: length 0, not whole).
message_cut cut_message(const char* bytes, std::uint32_t available, message_source from);
