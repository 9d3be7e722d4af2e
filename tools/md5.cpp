#include "tools/md5.h"

#include <cstring>

namespace KESTRO {
namespace TOOLS {

namespace {

// Per-step left rotations, four per stage.
constexpr int shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// floor(abs(sin(i + 1)) * 2^32), fixed here so that no floating point decides the digest.
constexpr std::uint32_t sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

std::uint32_t rotate_left(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

std::uint32_t load_le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void store_le32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void transform(std::uint32_t state[4], const unsigned char* block) {
    std::uint32_t words[16];
    for (int i = 0; i < 16; ++i) words[i] = load_le32(block + 4 * i);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        std::uint32_t rotated = rotate_left(a + f + sines[i] + words[g], shifts[i]);
        a = d;
        d = c;
        c = b;
        b = b + rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void md5_init(md5_context& ctx) {
    ctx.count[0] = 0;
    ctx.count[1] = 0;
    ctx.state[0] = 0x67452301;
    ctx.state[1] = 0xEFCDAB89;
    ctx.state[2] = 0x98BADCFE;
    ctx.state[3] = 0x10325476;
    std::memset(ctx.block, 0, sizeof ctx.block);
}

void md5_update(md5_context& ctx, const void* input, std::uint32_t length) {
    if (length == 0) return;
    const auto* bytes = static_cast<const unsigned char*>(input);
    std::uint32_t fill = ctx.count[0] % 64;
    ctx.count[0] += length;
    if (ctx.count[0] < length) ++ctx.count[1];

    std::uint32_t room = 64 - fill;
    if (fill != 0 && length >= room) {
        std::memcpy(ctx.block + fill, bytes, room);
        transform(ctx.state, ctx.block);
        bytes += room;
        length -= room;
        fill = 0;
    }
    for (; length >= 64; bytes += 64, length -= 64) transform(ctx.state, bytes);
    if (length != 0) std::memcpy(ctx.block + fill, bytes, length);
}

void md5_final(md5_context& ctx, unsigned char digest[16]) {
    static const unsigned char padding[64] = {0x80};
    unsigned char bit_length[8];
    store_le32(bit_length, ctx.count[0] << 3);
    store_le32(bit_length + 4, (ctx.count[1] << 3) | (ctx.count[0] >> 29));

    std::uint32_t fill = ctx.count[0] % 64;
    md5_update(ctx, padding, fill < 56 ? 56 - fill : 120 - fill);
    md5_update(ctx, bit_length, 8);
    for (int i = 0; i < 4; ++i) store_le32(digest + 4 * i, ctx.state[i]);
}

void md5_hex(const void* data, std::uint32_t length, char* out) {
    static const char digits[] = "0123456789ABCDEF";
    md5_context ctx;
    md5_init(ctx);
    md5_update(ctx, data, length);
    unsigned char digest[16];
    md5_final(ctx, digest);
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 0x0F];
    }
    out[32] = '\0';
}

}  // namespace TOOLS
}  // namespace KESTRO
