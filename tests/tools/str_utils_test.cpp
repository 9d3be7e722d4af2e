#include "tools/str_utils.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace KESTRO::TOOLS;

TEST(str_utils, copy_and_format_cut_and_always_terminate) {
    char field[4];
    EXPECT_EQ(copy_str(field, sizeof field, "abcde"), field);
    EXPECT_STREQ(field, "abc");
    copy_str(field, sizeof field, nullptr);
    EXPECT_STREQ(field, "");
    char untouched[2] = {'!', '!'};
    copy_str(untouched, 0, "abc");
    EXPECT_EQ(format_str(untouched, 0, "%d", 1), 0u);
    EXPECT_EQ(untouched[0], '!');

    char small[5];
    EXPECT_EQ(format_str(small, sizeof small, "%s-%d", "abcd", 1234), 4u);  // 9 wanted
    EXPECT_STREQ(small, "abcd");

    EXPECT_EQ(string_printf("[%s] %d", "net", 42), "[net] 42");
    const std::string huge(50000, 'h');
    EXPECT_EQ(string_printf("%s", huge.c_str()), huge.substr(0, 40959));
}

}  // namespace
