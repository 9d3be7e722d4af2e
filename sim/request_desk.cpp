#include "sim/request_desk.h"

#include <cstdio>
#include <utility>

#include "sim/messages.h"
#include "tools/md5.h"

namespace sim {

namespace {

std::string md5_of(const std::string& text) {
    char hex[33];
    KESTRO::TOOLS::md5_hex(text.data(), static_cast<std::uint32_t>(text.size()), hex);
    return hex;
}

std::string prefix(const client_session& session) {
    return "client " + std::to_string(session.number) + ": ";
}

// A symbol as a person knows it: "0 (Au(T+D))" for a metal code, the code alone otherwise.
std::string shown(const std::vector<instrument>& list, const std::string& symbol) {
    const std::size_t index = find_instrument(list, symbol);
    if (index == list.size() || list[index].exchange_symbol == symbol) return symbol;
    return symbol + " (" + list[index].exchange_symbol + ")";
}

}  // namespace

request_desk::request_desk(const sim_options& options, const std::vector<instrument>& list)
    : m_list(list), m_refuse_login(options.refuse_login), m_list_end(!options.no_list_end) {
    for (const auto& user : effective_users(options)) m_digests[user.first] = md5_of(user.second);
}

desk_answer request_desk::answer(client_session& session, const request& req) const {
    if (req.unknown) {
        char line[96];
        std::snprintf(line, sizeof line, "unknown request type 0x%02X (%zu bytes), ignored",
                      static_cast<unsigned>(static_cast<unsigned char>(req.type)), req.raw.size());
        return {{}, prefix(session) + line};
    }
    switch (req.type) {
        case 'L':
            return login(session, req);
        case 'S':
            return symbol_list(session);
        case 'N':
            return registration(session, req, true);
        case 'R':
            return registration(session, req, false);
        default:  // heartbeats need no answer and are too frequent to log
            return {};
    }
}

desk_answer request_desk::login(client_session& session, const request& req) const {
    const std::string who = prefix(session) + "login " + req.user_id;
    const auto found = m_digests.find(req.user_id);
    if (m_refuse_login) {
        session.logged_in = false;
        return {login_reply_bytes(login_refused_by_switch, "login refused"),
                who + " refused (--refuse-login)"};
    }
    if (found == m_digests.end() || found->second != req.password_md5) {
        session.logged_in = false;
        const char* why = found == m_digests.end() ? "unknown user" : "wrong password";
        return {login_reply_bytes(login_bad_credentials, "bad user or password"),
                who + " refused (" + why + ")"};
    }
    session.logged_in = true;
    session.user = req.user_id;
    return {login_reply_bytes('Y', ""), who + " accepted"};
}

desk_answer request_desk::symbol_list(const client_session& session) const {
    if (!session.logged_in)
        return {{}, prefix(session) + "symbol list asked before login, ignored"};
    std::string bytes;
    for (const instrument& item : m_list) bytes += symbol_bytes(item.exchange_code, item.symbol);
    std::string event =
        prefix(session) + "symbol list sent (" + std::to_string(m_list.size()) + " symbols";
    if (m_list_end) {
        bytes += symbol_end_bytes();
        event += ")";
    } else {
        event += ", no end: --no-list-end)";
    }
    return {bytes, event};
}

desk_answer request_desk::registration(client_session& session, const request& req,
                                       bool subscribe) const {
    const std::string what =
        prefix(session) + (subscribe ? "register " : "unregister ") + shown(m_list, req.symbol);
    char result = '0';
    std::string outcome = "ok";
    const std::size_t index = find_instrument(m_list, req.symbol);
    const bool listed = index < m_list.size();
    if (!session.logged_in) {
        result = reply_not_logged_in;
        outcome = "refused (not logged in)";
    } else if (subscribe && !listed) {
        result = reply_unknown_symbol;
        outcome = "refused (unknown symbol)";
    } else if (subscribe && !session.registered.insert(index).second) {
        result = reply_already_registered;
        outcome = "ok (already registered)";
    } else if (!subscribe && (!listed || session.registered.erase(index) == 0)) {
        result = reply_unknown_symbol;
        outcome = "refused (not registered)";
    }
    std::string bytes = subscribe ? register_reply_bytes(result, req.exchange_code, req.symbol)
                                  : unregister_reply_bytes(result, req.exchange_code, req.symbol);
    return {std::move(bytes), what + " " + outcome};
}

}  // namespace sim
