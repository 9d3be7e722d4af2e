// Internal to the simulator. The requests a server receives and the cutting of a client's
// byte stream into them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One message a client sent, as the server received it.
struct request {
    std::size_t connection = 0;  // the connection's number, in order of acceptance from 0
    char type = 0;               // the first byte: 'L', 'S', 'N', 'R', 'H' or an unknown byte
    bool unknown = false;        // unknown type: raw holds it and the rest of its read
    std::string raw;             // the bytes as received
    std::int64_t time_ms = 0;    // when it arrived, in ms since the server started
    std::string user_id;         // 'L'
    std::string password_md5;    // 'L'
    char exchange_code = 0;      // 'N', 'R'
    std::string symbol;          // 'N', 'R'
    std::int64_t send_time = 0;  // 'H'
};

// Cuts the byte stream of one connection into requests by their type byte. Used by one thread
// at a time (the server's I/O thread); it owns the incomplete tail of the stream, no lock.
class request_cutter {
public:
    explicit request_cutter(std::size_t connection) : m_connection(connection) {}

    // Takes the bytes of one read and returns the requests completed by them, in order. An
    // incomplete request waits for the next read. An unknown type byte ends the cutting: it
    // comes back as one unknown request with everything after it, and nothing is kept.
    std::vector<request> feed(const char* data, std::size_t length, std::int64_t time_ms);

private:
    request parse(std::string raw, std::int64_t time_ms) const;

    std::size_t m_connection;
    std::string m_pending;
};

}  // namespace sim
