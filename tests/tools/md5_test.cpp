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
    EXPECT_EQ(std::string(out + 32, 2), std::string("\0#", 2)) << "terminator, nothing past it";
    return out;
}

TEST(md5, reference_digests_in_upper_case) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
        // Lengths around the padding boundary, computed independently of this code.
        {std::string(55, 'a'), "EF1772B6DFF9A122358552954AD0DF65"},
        {std::string(56, 'a'), "3B0C8AC703F828B04C6C197006D17218"},
        {std::string(63, 'a'), "B06521F39153D618550606BE297466D5"},
        {std::string(64, 'a'), "014842D480B571495A4A0363793F7367"},
        {std::string(65, 'a'), "C743A45E0D2E6A95CB859ADAE0248435"}};
    for (const auto& [text, digest] : cases) EXPECT_EQ(hex_of(text), digest) << text.size();
}

}  // namespace
