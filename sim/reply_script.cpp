#include "sim/reply_script.h"

#include <algorithm>
#include <cstdio>

#include "protocol/symbol_names.h"
#include "sim/messages.h"

namespace sim {

namespace {

std::string prefix(const request& req) {
    return "client " + std::to_string(req.connection) + ": ";
}

// A symbol as a person knows it: "0 (Au(T+D))" for a metal code, the text alone otherwise.
std::string shown(const std::string& symbol) {
    const char* name = symbol.size() == 1 ? code_to_name(symbol.c_str()) : nullptr;
    return name == nullptr ? symbol : symbol + " (" + name + ")";
}

std::string outcome(char result) {
    if (result == '0') return "ok";
    if (result == '2') return "ok (already registered)";
    return std::string("refused (") + result + ")";
}

bool listed(const reply_script& script, const std::string& symbol) {
    return std::any_of(script.symbols.begin(), script.symbols.end(),
                       [&](const symbol_entry& entry) { return entry.symbol == symbol; });
}

reply login(const reply_script& script, session& state, const request& req,
            std::size_t login_number) {
    const std::string who = prefix(req) + "login " + req.user_id;
    const login_answer& rule = login_number > 1 && script.relogin ? *script.relogin : script.login;
    state.logged_in = false;
    if (rule.silent) return {{}, who + " not answered"};
    char result = rule.result;
    std::string text = rule.text;
    std::string why = text;
    if (result == 'Y' && !script.users.empty()) {
        const auto found = script.users.find(req.user_id);
        if (found == script.users.end() || found->second != req.password_md5) {
            result = login_bad_credentials;
            text = "bad user or password";
            why = found == script.users.end() ? "unknown user" : "wrong password";
        }
    }
    if (result != 'Y') return {login_reply_bytes(result, text), who + " refused (" + why + ")"};
    state.logged_in = true;
    state.user = req.user_id;
    return {login_reply_bytes('Y', text), who + " accepted"};
}

reply symbol_list(const reply_script& script, const session& state, const request& req) {
    if (!script.answer_symbol_query) return {};
    if (script.strict && !state.logged_in) {
        return {{}, prefix(req) + "symbol list asked before login, ignored"};
    }
    std::string bytes;
    for (const symbol_entry& entry : script.symbols) {
        bytes += symbol_bytes(entry.exchange_code, entry.symbol);
    }
    std::string event =
        prefix(req) + "symbol list sent (" + std::to_string(script.symbols.size()) + " symbols";
    if (script.end_symbol_list) {
        bytes += symbol_end_bytes();
        return {bytes, event + ")"};
    }
    return {bytes, event + ", no end)"};
}

reply registration(const reply_script& script, session& state, const request& req) {
    const bool subscribe = req.type == 'N';
    if (subscribe ? !script.answer_register : !script.answer_unregister) return {};
    char result = '0';
    const bool known = state.registered.count(req.symbol) == 1;
    if (script.strict) {
        if (!state.logged_in) {
            result = reply_not_logged_in;
        } else if (subscribe ? !listed(script, req.symbol) : !known) {
            result = reply_unknown_symbol;
        } else if (subscribe && known) {
            result = '2';
        }
    }
    const std::string event = prefix(req) + (subscribe ? "register " : "unregister ") +
                              shown(req.symbol) + " " + outcome(result);
    if (!subscribe) {
        if (result == '0') state.registered.erase(req.symbol);
        return {unregister_reply_bytes(result, req.exchange_code, req.symbol), event};
    }
    std::string bytes = register_reply_bytes(result, req.exchange_code, req.symbol);
    if (result == '0' || result == '2') {
        state.registered.insert(req.symbol);
        for (int i = 0; i < script.quotes_after_register; ++i) {
            bytes += quote_bytes(req.exchange_code, make_quote(req.symbol, i));
        }
    }
    return {bytes, event};
}

}  // namespace

reply scripted_reply(const reply_script& script, session& state, const request& req,
                     std::size_t login_number) {
    if (req.unknown) {
        char line[96];
        std::snprintf(line, sizeof line, "unknown request type 0x%02X (%zu bytes), ignored",
                      static_cast<unsigned>(static_cast<unsigned char>(req.type)), req.raw.size());
        return {{}, prefix(req) + line};
    }
    switch (req.type) {
        case 'L':
            return login(script, state, req, login_number);
        case 'S':
            return symbol_list(script, state, req);
        case 'N':
        case 'R':
            return registration(script, state, req);
        default:  // heartbeats are not answered, and too frequent to log
            return {};
    }
}

}  // namespace sim
