#include "quote_session.h"

#include <algorithm>
#include <cstdio>

double seconds_since(steady::time_point start) {
    return std::chrono::duration<double>(steady::now() - start).count();
}

namespace {

// Waits until `done` holds, at most timeout_ms, looking at `stop` a few times a second.
bool wait_until(const session_sink& sink, bool (*done)(const session_state&), int timeout_ms,
                const std::atomic<bool>& stop) {
    const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    while (!stop.load() && steady::now() < deadline) {
        if (sink.wait_for(done, 200)) return true;
    }
    return false;
}

}  // namespace

std::string log_in(OrvQuoteApi* api, session_sink& sink, const session_options& o,
                   const std::atomic<bool>& stop) {
    OqsTcpInfo server;
    std::snprintf(server.ServerIp, sizeof server.ServerIp, "%s", o.server_ip.c_str());
    server.ServerPort = o.server_port;
    if (!api->ConnServer(server, &sink)) return "cannot connect to " + o.server_address();
    OrvLoginInfo login;
    std::snprintf(login.UserId, sizeof login.UserId, "%s", o.user.c_str());
    std::snprintf(login.Password, sizeof login.Password, "%s", o.password.c_str());
    api->LoginToOqs(login);
    // The library reports the login once the symbol list is in, or gives up after 5 s.
    if (!wait_until(
            sink, [](const session_state& s) { return s.login_done; }, 15000, stop)) {
        return stop.load() ? std::string() : "no answer to the login";
    }
    if (!sink.state().login_ok) return "login failed: " + sink.state().login_text;
    api->QuerySymbolList();
    if (!wait_until(
            sink, [](const session_state& s) { return s.list_done; }, 10000, stop)) {
        return stop.load() ? std::string() : "no symbol list";
    }
    return {};
}

int register_wanted(OrvQuoteApi* api, const session_options& o, const session_state& state,
                    std::vector<std::string>& unlisted) {
    int count = 0;
    for (const auto& listed : state.symbols) {
        const bool wanted = o.all || std::find(o.symbols.begin(), o.symbols.end(), listed.second) !=
                                         o.symbols.end();
        if (!wanted) continue;
        api->RegisterSymbol(listed.first, listed.second.c_str());
        ++count;
    }
    for (const std::string& name : o.symbols) {
        const bool listed = std::any_of(state.symbols.begin(), state.symbols.end(),
                                        [&](const auto& s) { return s.second == name; });
        if (!listed) unlisted.push_back(name);
    }
    return count;
}

void wait_for_end(const session_sink& sink, const session_options& o, const std::atomic<bool>& stop,
                  steady::time_point start, const std::function<bool()>& done, double every_s,
                  const std::function<void(double)>& tick) {
    double next_tick = every_s;
    while (!stop.load() && !done() && (o.seconds <= 0 || seconds_since(start) < o.seconds)) {
        const double to_tick = every_s > 0 ? next_tick - seconds_since(start) : 1;
        const int wait_ms = static_cast<int>(std::min(200.0, std::max(1.0, to_tick * 1000)));
        if (sink.wait_for([](const session_state& s) { return s.ended; }, wait_ms)) return;
        if (every_s > 0 && seconds_since(start) >= next_tick) {
            tick(seconds_since(start));
            next_tick += every_s;
        }
    }
}
