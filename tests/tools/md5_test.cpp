#include "tools/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace KESTRO::TOOLS;

std::string hex_of(const std::string& text) {
    char out[40];
    std::memset(out, '#', sizeof out);
    md5_hex(text.data(), static_cast<std::uint32_t>(text.size()), out);
    EXPECT_EQ(out[32], '\0');
    EXPECT_EQ(out[33], '#') << "wrote past the terminator";
    for (int i = 0; i < 32; ++i) {
        EXPECT_TRUE((out[i] >= '0' && out[i] <= '9') || (out[i] >= 'A' && out[i] <= 'F'))
            << "character " << i << " of " << out;
    }
    return out;
}

// The same digest fed in pieces of the given size.
std::string chunked_hex(const std::string& text, std::size_t piece) {
    md5_context ctx;
    md5_init(ctx);
    for (std::size_t at = 0; at < text.size(); at += piece) {
        std::size_t n = std::min(piece, text.size() - at);
        md5_update(ctx, text.data() + at, static_cast<std::uint32_t>(n));
    }
    md5_update(ctx, text.data(), 0);
    unsigned char digest[16];
    md5_final(ctx, digest);
    std::string hex;
    char pair[3];
    for (unsigned char byte : digest) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        hex += pair;
    }
    return hex;
}

TEST(Md5, ReferenceDigestsInUpperCase) {
    EXPECT_EQ(hex_of(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(hex_of("a"), "0CC175B9C0F1B6A831C399E269772661");
    EXPECT_EQ(hex_of("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(hex_of("message digest"), "F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(hex_of("abcdefghijklmnopqrstuvwxyz"), "C3FCD3D76192E4007DFB496CCA67E13B");
    EXPECT_EQ(hex_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "D174AB98D277D9F5A5611C2C9F419D9F");
    EXPECT_EQ(hex_of("123456789012345678901234567890123456789012345678901234567890123456789012"
                     "34567890"),
              "57EDF4A22BE3C955AC49DA2E2107B67A");
}

TEST(Md5, LengthsAroundThePaddingBoundary) {
    // Digests of n bytes of 'a', computed independently of this code.
    const std::pair<std::size_t, const char*> cases[] = {{55, "EF1772B6DFF9A122358552954AD0DF65"},
                                                         {56, "3B0C8AC703F828B04C6C197006D17218"},
                                                         {63, "B06521F39153D618550606BE297466D5"},
                                                         {64, "014842D480B571495A4A0363793F7367"},
                                                         {65, "C743A45E0D2E6A95CB859ADAE0248435"}};
    for (const auto& [length, digest] : cases) {
        const std::string text(length, 'a');
        EXPECT_EQ(hex_of(text), digest) << length << " bytes";
    }
}

TEST(Md5, PiecesCrossingBlocksMatchOneCall) {
    std::string text;
    for (int i = 0; i < 1000; ++i) text.push_back(static_cast<char>(i * 37 + 11));
    const std::string whole = hex_of(text);
    for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 129u, 999u}) {
        EXPECT_EQ(chunked_hex(text, piece), whole) << "pieces of " << piece;
    }
}

TEST(Md5, ByteCountCarriesIntoHighWord) {
    md5_context ctx;
    md5_init(ctx);
    ctx.count[0] = 0xFFFFFFF0u;  // as if 4 GiB less 16 bytes had been fed
    const unsigned char bytes[32] = {};
    md5_update(ctx, bytes, sizeof bytes);
    EXPECT_EQ(ctx.count[0], 0x10u);
    EXPECT_EQ(ctx.count[1], 1u);
}

}  // namespace
