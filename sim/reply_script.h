// Internal to the simulator. What the server answers by itself to each request: the script is a
// plain value the server copies under its lock; scripted_reply is a pure function of it, safe
// from any thread.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
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

// The server's automatic behaviour, a plain value: by default it accepts every login, lists
// sample_symbols() with the end of the list, and registers and unregisters everything with '0'.
struct reply_script {
    // Logins are counted over the whole server, from 1. The first rule that applies wins:
    // nth_login for that number, then relogin for every login after the first, then login.
    login_answer login;
    std::optional<login_answer> relogin;
    std::map<std::size_t, login_answer> nth_login;

    // 'S' is answered with one entry per symbol, then the end of the list when end_symbol_list.
    bool answer_symbol_query = true;
    bool end_symbol_list = true;
    std::vector<symbol_entry> symbols = sample_symbols();

    // 'N' and 'R' are answered with the request's exchange code and symbol and a result
    // character: the one given for that symbol, else the default ('0': done).
    bool answer_register = true;
    char register_result = '0';
    std::map<std::string, char> register_result_for;
    bool answer_unregister = true;
    char unregister_result = '0';
    std::map<std::string, char> unregister_result_for;

    // Quotes (make_quote with sequence 0, 1, ...) sent right behind every accepted register
    // reply ('0' or '2'), in the same write.
    int quotes_after_register = 0;

    // A heartbeat is answered with one carrying the same time.
    bool echo_heartbeat = false;
};

// The bytes the script sends back for `req` (empty: no answer). `login_number` is the server's
// count of login requests including this one; it matters for 'L' only.
std::string scripted_reply(const reply_script& script, const request& req,
                           std::size_t login_number);

}  // namespace sim
