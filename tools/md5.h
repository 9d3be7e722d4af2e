// Internal. The MD5 message digest (RFC 1321), incremental or in one call as upper-case hex.
// Reentrant: a context belongs to the one digest being computed.
#pragma once

#include <cstdint>

namespace KESTRO {
namespace TOOLS {

// The running state of one digest.
struct md5_context {
    std::uint32_t count[2];   // bytes fed so far, low word then high word
    std::uint32_t state[4];   // A, B, C, D
    unsigned char block[64];  // input not yet transformed
};

void md5_init(md5_context& ctx);
void md5_update(md5_context& ctx, const void* input, std::uint32_t length);
// Pads, appends the bit length and writes the 16 digest bytes; ctx is spent afterwards.
void md5_final(md5_context& ctx, unsigned char digest[16]);

// The digest of data as 32 upper-case hexadecimal digits and a terminator (out holds 33).
void md5_hex(const void* data, std::uint32_t length, char* out);

}  // namespace TOOLS
}  // namespace KESTRO
