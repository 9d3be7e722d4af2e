#include "tools/str_utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace KESTRO::TOOLS;
using texts = std::vector<std::string>;

TEST(CopyStr, CutsAndAlwaysTerminates) {
    char field[4];
    EXPECT_EQ(copy_str(field, sizeof field, "abcde"), field);
    EXPECT_STREQ(field, "abc");
    copy_str(field, sizeof field, "xyz");
    EXPECT_STREQ(field, "xyz");
    copy_str(field, sizeof field, nullptr);
    EXPECT_STREQ(field, "");

    char one[1] = {'!'};
    copy_str(one, 1, "abc");
    EXPECT_EQ(one[0], '\0');

    char untouched[2] = {'!', '!'};
    EXPECT_EQ(copy_str(untouched, 0, "abc"), untouched);
    EXPECT_EQ(untouched[0], '!');
}

std::uint64_t call_vformat(char* dest, std::uint32_t size, const char* fmt, ...)
    KESTRO_PRINTF_FORMAT(3, 4);
std::uint64_t call_vformat(char* dest, std::uint32_t size, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::uint64_t length = vformat_str(dest, size, fmt, args);
    va_end(args);
    return length;
}

TEST(FormatStr, ReturnsTheLengthThatStandsInTheDestination) {
    char small[5];
    EXPECT_EQ(format_str(small, sizeof small, "%s-%d", "abcd", 1234), 4u);  // 9 wanted
    EXPECT_STREQ(small, "abcd");
    EXPECT_EQ(format_str(small, sizeof small, "%d", 1234), 4u);
    EXPECT_STREQ(small, "1234");
    EXPECT_EQ(format_str(small, sizeof small, "%s", ""), 0u);
    EXPECT_STREQ(small, "");

    char wide[32];
    EXPECT_EQ(format_str(wide, sizeof wide, "%lld|%llu|%zu", -5LL, 18446744073709551615ULL,
                         std::size_t{7}),
              25u);
    EXPECT_STREQ(wide, "-5|18446744073709551615|7");

    char untouched[2] = {'!', '!'};
    EXPECT_EQ(format_str(untouched, 0, "%d", 1), 0u);
    EXPECT_EQ(untouched[0], '!');

    EXPECT_EQ(call_vformat(small, sizeof small, "%c%c%c%c%c%c", 'a', 'b', 'c', 'd', 'e', 'f'), 4u);
    EXPECT_STREQ(small, "abcd");
}

TEST(StringPrintf, FormatsAndCutsWhatWouldOverflowItsBuffer) {
    EXPECT_EQ(string_printf("[%s] %d", "net", 42), "[net] 42");
    EXPECT_EQ(string_printf("%s", ""), "");

    const std::string fits(40959, 'f');
    EXPECT_EQ(string_printf("%s", fits.c_str()), fits);
    const std::string huge(50000, 'h');
    EXPECT_EQ(string_printf("%s", huge.c_str()), huge.substr(0, 40959));
}

TEST(SplitStr, CutsAtDelimiters) {
    texts out{"stale"};
    EXPECT_TRUE(split_str("192.168.10.1", out, "."));
    EXPECT_EQ(out, (texts{"192", "168", "10", "1"}));
    EXPECT_TRUE(split_str("a..b", out, "."));
    EXPECT_EQ(out, (texts{"a", "", "b"}));
    EXPECT_TRUE(split_str(".a", out, "."));
    EXPECT_EQ(out, (texts{"", "a"}));
    EXPECT_TRUE(split_str("a.", out, "."));
    EXPECT_EQ(out, (texts{"a"}));
    EXPECT_TRUE(split_str(".", out, "."));
    EXPECT_EQ(out, (texts{""}));
    EXPECT_TRUE(split_str("abc", out, "."));
    EXPECT_EQ(out, (texts{"abc"}));
    EXPECT_TRUE(split_str("", out, "."));
    EXPECT_TRUE(out.empty());
}

TEST(SplitStr, SeveralDelimiterCharactersAndRefusals) {
    texts out;
    // Any of the characters ends an element, but each hit steps over two characters.
    EXPECT_TRUE(split_str("ab,cd;ef", out, ",;"));
    EXPECT_EQ(out, (texts{"ab", "d", "f"}));
    EXPECT_TRUE(split_str("ab,c,;", out, ",;"));  // already ends with the delimiters
    EXPECT_EQ(out, (texts{"ab", ""}));
    // Only the whole delimiter string counts as a trailing one: the appended copy yields an
    // element of its own after the ';'.
    EXPECT_TRUE(split_str("a;", out, ",;"));
    EXPECT_EQ(out, (texts{"a", ""}));
    // Shorter than the delimiter string: kept whole, even when it is a delimiter itself.
    EXPECT_TRUE(split_str(",", out, ",;"));
    EXPECT_EQ(out, (texts{","}));

    out = {"kept"};
    EXPECT_FALSE(split_str(nullptr, out, "."));
    EXPECT_EQ(out, (texts{"kept"}));
    EXPECT_FALSE(split_str("a.b", out, ""));
    EXPECT_TRUE(out.empty());
}

}  // namespace
