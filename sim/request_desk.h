// Internal to the simulator command and the demo. The server's answers to what a client asks:
// login with the user's password digest checked, the symbol list, registrations. It keeps the
// per-connection state a quote stream needs (logged in, registered symbols). Pure logic on the
// caller's session: used by the stream's thread only, owns the digests, no lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/instruments.h"
#include "sim/request_cutter.h"
#include "sim/sim_options.h"

namespace sim {

// One accepted connection as the simulator keeps it.
struct client_session {
    using clock = std::chrono::steady_clock;

    std::size_t number = 0;  // the server's connection number
    clock::time_point accepted;
    clock::time_point next_heartbeat;
    bool logged_in = false;
    std::string user;
    std::set<std::size_t> registered;  // positions in the instrument list
    std::uint64_t quotes = 0;          // quotes sent on this connection
};

// What to send back (one write, possibly empty) and the line to log ("" for none).
struct desk_answer {
    std::string bytes;
    std::string event;
};

// Result characters of the register and unregister replies beyond the plain '0'.
constexpr char reply_already_registered = '2';  // counts as registered
constexpr char reply_unknown_symbol = 'U';      // not listed, or not registered
constexpr char reply_not_logged_in = 'L';
// Result characters of a refused login.
constexpr char login_refused_by_switch = 'N';
constexpr char login_bad_credentials = 'P';

// Turns one request of one session into the reply bytes and an event line, updating the
// session. Const after construction, so any thread may use it on sessions of its own.
class request_desk {
public:
    request_desk(const sim_options& options, const std::vector<instrument>& list);

    // The answer to one request of `session`, whose state it updates.
    desk_answer answer(client_session& session, const request& req) const;

    // What the symbol list offers.
    const std::vector<instrument>& instruments() const { return m_list; }

private:
    desk_answer login(client_session& session, const request& req) const;
    desk_answer symbol_list(const client_session& session) const;
    // 'N' when subscribe, 'R' otherwise: the reply, and the session's registrations updated.
    desk_answer registration(client_session& session, const request& req, bool subscribe) const;

    std::map<std::string, std::string> m_digests;  // user -> upper-case hex MD5 of the password
    std::vector<instrument> m_list;
    bool m_refuse_login;
    bool m_list_end;
};

}  // namespace sim
