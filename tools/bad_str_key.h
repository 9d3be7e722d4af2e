// Internal. The tool library's one exception; thrown only inside the transport.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace KESTRO {
namespace TOOLS {

class bad_str_key : public std::out_of_range {
public:
    explicit bad_str_key(const std::string& text) : std::out_of_range(text), m_code(-1) {}
    explicit bad_str_key(const char* text) : std::out_of_range(text), m_code(-1) {}

    std::int32_t code() const { return m_code; }

private:
    std::int32_t m_code;
};

}  // namespace TOOLS
}  // namespace KESTRO
