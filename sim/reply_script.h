// Internal to the simulator. The one answer engine of every simulated server, the tests' and
// oqs_sim's alike: what the server answers to each request, given a script (a plain value the
// server copies under its lock) and what the requesting connection has done so far.
// scripted_reply is a function of its arguments only: safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/request_cutter.h"
#include "sim/sample_data.h"

namespace sim {

// The answer to one login request: nothing at all when silent.
struct login_answer {
    char result = 'Y';
    std::string text;
    bool silent = false;
};

// Result characters of a server that checks what it is asked (see reply_script::strict).
constexpr char login_bad_credentials = 'P';
constexpr char reply_unknown_symbol = 'U';
constexpr char reply_not_logged_in = 'L';

// The server's behaviour, a plain value: by default it accepts every login, lists
// sample_symbols() with the end of the list, and registers and unregisters everything with '0'.
struct reply_script {
    // Logins are counted over the whole server, from 1: relogin answers every login after the
    // first when set, login all others.
    login_answer login;
    std::optional<login_answer> relogin;
    // User id -> the upper-case hex MD5 digest of its password. When not empty, a login the
    // rules accept is refused ('P', "bad user or password") for any other user or digest.
    std::map<std::string, std::string> users;

    // 'S' is answered with one entry per symbol, then the end of the list when end_symbol_list.
    bool answer_symbol_query = true;
    bool end_symbol_list = true;
    std::vector<symbol_entry> symbols = sample_symbols();

    // 'N' and 'R' are answered with the request's exchange code and symbol and '0' (done).
    bool answer_register = true;
    bool answer_unregister = true;
    // Holds each connection to what it has done, as a real server would: no symbol list
    // before a login, 'L' for registrations before it, 'U' for a symbol not listed or for
    // unregistering what is not registered, '2' for a second register.
    bool strict = false;

    // Quotes (make_quote with sequence 0, 1, ...) sent right behind every accepted register
    // reply ('0' or '2'), in the same write.
    int quotes_after_register = 0;
};

// What a server knows of one connection. scripted_reply keeps the login and the registrations;
// the server counts the quotes it sends.
struct session {
    bool logged_in = false;
    std::string user;
    std::set<std::string> registered;  // wire symbols answered '0' or '2' and not unregistered
    std::uint64_t quotes = 0;
};

// What to send back (one write; empty: no answer) and a line for the server's log ("" none).
struct reply {
    std::string bytes;
    std::string event;
};

// The answer to `req` from a connection in state `state`, which it updates. `login_number`
// is the server's count of login requests including this one; it matters for 'L' only.
reply scripted_reply(const reply_script& script, session& state, const request& req,
                     std::size_t login_number);

}  // namespace sim
