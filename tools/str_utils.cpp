#include "tools/str_utils.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "tools/wake_signal.h"

namespace KESTRO {
namespace TOOLS {

namespace {
constexpr std::uint32_t printf_buffer_size = 40960;
}

void sleep_ms(std::uint32_t milliseconds) {
    // A wait that nothing ends early, measured like every other wait of the library (and
    // standing in the same coarse timer when a test puts one in).
    wake_signal quiet;
    quiet.wait_for(std::chrono::milliseconds(milliseconds), [] { return false; });
}

char* copy_str(char* dest, std::uint32_t size, const char* src) {
    if (dest == nullptr || size == 0) return dest;
    std::size_t length = 0;
    if (src != nullptr) {
        while (length + 1 < size && src[length] != '\0') ++length;
        std::memcpy(dest, src, length);
    }
    dest[length] = '\0';
    return dest;
}

std::uint64_t vformat_str(char* dest, std::uint32_t size, const char* fmt, va_list args) {
    if (dest == nullptr || size == 0) return 0;
    int written = std::vsnprintf(dest, size, fmt, args);
    if (written < 0) {
        dest[0] = '\0';
        return 0;
    }
    auto length = static_cast<std::uint64_t>(written);
    return length < size ? length : size - 1;
}

std::uint64_t format_str(char* dest, std::uint32_t size, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::uint64_t length = vformat_str(dest, size, fmt, args);
    va_end(args);
    return length;
}

std::string string_printf(const char* fmt, ...) {
    char buffer[printf_buffer_size];
    va_list args;
    va_start(args, fmt);
    std::uint64_t length = vformat_str(buffer, printf_buffer_size, fmt, args);
    va_end(args);
    return std::string(buffer, static_cast<std::size_t>(length));
}

bool split_str(const char* text, std::vector<std::string>& out, std::string delimiters) {
    if (text == nullptr) return false;
    out.clear();
    if (delimiters.empty()) return false;
    std::string copy(text);
    if (copy.empty()) return true;
    const std::size_t step = delimiters.size();
    if (copy.size() < step) {
        out.push_back(copy);
        return true;
    }
    if (copy.compare(copy.size() - step, step, delimiters) != 0) copy += delimiters;
    std::size_t start = 0;
    for (std::size_t hit = copy.find_first_of(delimiters, start); hit != std::string::npos;
         hit = copy.find_first_of(delimiters, start)) {
        out.push_back(copy.substr(start, hit - start));
        start = hit + step;
    }
    return true;
}

}  // namespace TOOLS
}  // namespace KESTRO
