#include "sim/reply_script.h"

#include "sim/messages.h"

namespace sim {

namespace {

const login_answer& login_rule(const reply_script& script, std::size_t login_number) {
    const auto nth = script.nth_login.find(login_number);
    if (nth != script.nth_login.end()) return nth->second;
    if (login_number > 1 && script.relogin) return *script.relogin;
    return script.login;
}

char result_for(const std::map<std::string, char>& overrides, char fallback,
                const std::string& symbol) {
    const auto found = overrides.find(symbol);
    return found == overrides.end() ? fallback : found->second;
}

std::string symbol_list(const reply_script& script) {
    std::string bytes;
    for (const symbol_entry& entry : script.symbols) {
        bytes += symbol_bytes(entry.exchange_code, entry.symbol);
    }
    if (script.end_symbol_list) bytes += symbol_end_bytes();
    return bytes;
}

std::string register_reply(const reply_script& script, const request& req) {
    const char result = result_for(script.register_result_for, script.register_result, req.symbol);
    std::string bytes = register_reply_bytes(result, req.exchange_code, req.symbol);
    if (result == '0' || result == '2') {
        for (int i = 0; i < script.quotes_after_register; ++i) {
            bytes += quote_bytes(req.exchange_code, make_quote(req.symbol, i));
        }
    }
    return bytes;
}

}  // namespace

std::string scripted_reply(const reply_script& script, const request& req,
                           std::size_t login_number) {
    if (req.unknown) return {};
    switch (req.type) {
        case 'L': {
            const login_answer& answer = login_rule(script, login_number);
            return answer.silent ? std::string() : login_reply_bytes(answer.result, answer.text);
        }
        case 'S':
            return script.answer_symbol_query ? symbol_list(script) : std::string();
        case 'N':
            return script.answer_register ? register_reply(script, req) : std::string();
        case 'R': {
            if (!script.answer_unregister) return {};
            const char result =
                result_for(script.unregister_result_for, script.unregister_result, req.symbol);
            return unregister_reply_bytes(result, req.exchange_code, req.symbol);
        }
        case 'H':
            return script.echo_heartbeat ? heartbeat_bytes(req.send_time) : std::string();
        default:
            return {};
    }
}

}  // namespace sim
