#include "net/socket_event.h"

socket_event::socket_event()
    : m_data(nullptr), m_length(0), m_type(EVENT_NONE), m_error(0), m_processed(0), m_socket(0) {}

socket_event::socket_event(std::uint32_t type, std::int32_t error, const char* data,
                           std::uint32_t length, std::uint64_t socket)
    : m_data(data),
      m_length(length),
      m_type(type),
      m_error(error),
      m_processed(0),
      m_socket(socket) {}

bool socket_event::set_data(const char* data, std::uint32_t length) {
    if (data == nullptr || length == 0) return false;
    m_data = data;
    m_length = length;
    return true;
}

void socket_event::set_text(const char* text) {
    if (text != nullptr) m_text = text;
}
