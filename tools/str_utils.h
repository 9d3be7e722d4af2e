// Internal. Sleeping, bounded text copy and formatting, and text splitting. Any thread: the
// functions keep no shared state.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

// Lets the compiler check printf-style arguments against their format: the format is argument
// fmt_index, the checked arguments start at first_arg (0 for a va_list). GCC names the C99
// format "gnu_printf" (plain "printf" means the Microsoft one under mingw-w64), clang knows only
// "printf"; other compilers check nothing.
#if defined(__clang__)
#define KESTRO_PRINTF_FORMAT(fmt_index, first_arg) \
    __attribute__((format(printf, fmt_index, first_arg)))
#elif defined(__GNUC__)
#define KESTRO_PRINTF_FORMAT(fmt_index, first_arg) \
    __attribute__((format(gnu_printf, fmt_index, first_arg)))
#else
#define KESTRO_PRINTF_FORMAT(fmt_index, first_arg)
#endif

namespace KESTRO {
namespace TOOLS {

// Suspends the calling thread for the given number of milliseconds, measured on the
// monotonic clock.
void sleep_ms(std::uint32_t milliseconds);

// Copies src into dest, cut to size - 1 characters and always terminated. A size of 0 writes
// nothing; a null src copies the empty text. Returns dest.
char* copy_str(char* dest, std::uint32_t size, const char* src);

// Formats into dest, cut to size - 1 characters and always terminated. Returns the length of
// what stands in dest afterwards (0 when size is 0, when nothing is written, or on a format
// error, which leaves dest empty).
std::uint64_t format_str(char* dest, std::uint32_t size, const char* fmt, ...)
    KESTRO_PRINTF_FORMAT(3, 4);
std::uint64_t vformat_str(char* dest, std::uint32_t size, const char* fmt, va_list args)
    KESTRO_PRINTF_FORMAT(3, 0);

// Formats into a string through a 40960-byte stack buffer. Callers keep their texts shorter;
// a longer result is cut to its first 40959 characters rather than overrunning the buffer.
std::string string_printf(const char* fmt, ...) KESTRO_PRINTF_FORMAT(1, 2);

// Cuts text at every character that occurs in delimiters, stepping over as many characters
// as delimiters holds after each hit; a trailing delimiter string adds no empty element, and
// a text shorter than delimiters is the only element. False, and out untouched, for a null
// text; false, with out cleared, for empty delimiters.
bool split_str(const char* text, std::vector<std::string>& out, std::string delimiters);

}  // namespace TOOLS
}  // namespace KESTRO
