#include "protocol/symbol_names.h"

#include <cstring>

namespace {

// One row of the table: both texts are terminated within their fields. An empty row ends it.
struct symbol_name_row {
    char code[8];
    char name[16];
};

const symbol_name_row symbol_name_table[] = {
    {"0", "Au(T+D)"},  {"1", "Ag(T+D)"},  {"2", "mAu(T+D)"},
    {"3", "Au(T+N1)"}, {"4", "Au(T+N2)"}, {"", ""},
};

}  // namespace

const char* name_to_code(const char* text) {
    if (text == nullptr) return nullptr;
    for (const symbol_name_row* row = symbol_name_table; row->name[0] != '\0'; ++row) {
        if (std::strcmp(row->name, text) == 0) return row->code;
    }
    return nullptr;
}

const char* code_to_name(const char* text) {
    if (text == nullptr) return nullptr;
    for (const symbol_name_row* row = symbol_name_table; row->code[0] != '\0'; ++row) {
        if (row->code[0] == text[0]) return row->name;
    }
    return nullptr;
}
