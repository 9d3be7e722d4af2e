#include "protocol/symbol_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Null stays null, so a miss is told apart from an empty result.
std::string or_null(const char* text) {
    return text == nullptr ? "<null>" : text;
}

}  // namespace

TEST(protocol_symbol_names, NameToCodeMatchesWholeNamesOnly) {
    EXPECT_EQ(or_null(name_to_code("Au(T+D)")), "0");
    EXPECT_EQ(or_null(name_to_code("Ag(T+D)")), "1");
    EXPECT_EQ(or_null(name_to_code("mAu(T+D)")), "2");
    EXPECT_EQ(or_null(name_to_code("Au(T+N1)")), "3");
    EXPECT_EQ(or_null(name_to_code("Au(T+N2)")), "4");
    EXPECT_EQ(name_to_code("au(t+n2)"), nullptr);
    EXPECT_EQ(name_to_code("Au(T+N2) "), nullptr);
    EXPECT_EQ(name_to_code("Au(T+N"), nullptr);
    EXPECT_EQ(name_to_code("1"), nullptr);
    EXPECT_EQ(name_to_code(""), nullptr);
    EXPECT_EQ(name_to_code(nullptr), nullptr);
}

TEST(protocol_symbol_names, CodeToNameComparesTheFirstCharacter) {
    EXPECT_EQ(or_null(code_to_name("0")), "Au(T+D)");
    EXPECT_EQ(or_null(code_to_name("1")), "Ag(T+D)");
    EXPECT_EQ(or_null(code_to_name("2")), "mAu(T+D)");
    EXPECT_EQ(or_null(code_to_name("3")), "Au(T+N1)");
    EXPECT_EQ(or_null(code_to_name("4")), "Au(T+N2)");
    EXPECT_EQ(or_null(code_to_name("1xyz")), "Ag(T+D)");
    EXPECT_EQ(code_to_name("5"), nullptr);
    EXPECT_EQ(code_to_name("Au(T+D)"), nullptr);
    EXPECT_EQ(code_to_name("x1"), nullptr);
    EXPECT_EQ(code_to_name(""), nullptr);
    EXPECT_EQ(code_to_name(nullptr), nullptr);
}
