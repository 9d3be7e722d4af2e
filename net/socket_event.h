// Internal. socket_event: the record the transport hands to its owner for every connection
// happening. It lives on the producer's stack for the duration of one callback and is used
// by that one thread only; it does not own the bytes it points to.
#pragma once

#include <cstdint>
#include <string>

enum socket_event_type : std::uint32_t {
    EVENT_CONNECT = 0,
    EVENT_REMOTE_DISCONNECT = 1,
    EVENT_LOCALE_DISCONNECT = 2,
    EVENT_ERROR = 3,  // never produced; an owner treats it like EVENT_REMOTE_DISCONNECT
    EVENT_RECV = 4,
    EVENT_SEND = 5,
    EVENT_NONE = 8,
};

class socket_event;

// The owner callback; its result is ignored.
using socket_event_callback = int (*)(socket_event* event, void* user);

class socket_event {
public:
    // An empty record: EVENT_NONE, everything else zero, null or empty.
    socket_event();
    // A record with processed 0 and an empty text.
    socket_event(std::uint32_t type, std::int32_t error, const char* data, std::uint32_t length,
                 std::uint64_t socket);

    // All members: the thread that holds the record.
    const char* data() const { return m_data; }
    std::uint32_t length() const { return m_length; }
    std::uint32_t type() const { return m_type; }
    std::int32_t error() const { return m_error; }
    const std::string& text() const { return m_text; }
    // Bytes the owner consumed from the front of data (EVENT_RECV only).
    std::int32_t processed() const { return m_processed; }
    std::uint64_t socket() const { return m_socket; }

    // Stores both only for non-null data and a length above 0; returns whether it did.
    bool set_data(const char* data, std::uint32_t length);
    void set_length(std::uint32_t length) { m_length = length; }
    void set_type(std::uint32_t type) { m_type = type; }
    void set_error(std::int32_t error) { m_error = error; }
    void set_text(const std::string& text) { m_text = text; }
    // A null text changes nothing.
    void set_text(const char* text);
    void set_processed(std::int32_t processed) { m_processed = processed; }
    void set_socket(std::uint64_t socket) { m_socket = socket; }

private:
    const char* m_data;
    std::uint32_t m_length;
    std::uint32_t m_type;
    std::int32_t m_error;
    std::string m_text;
    std::int32_t m_processed;
    std::uint64_t m_socket;
};
