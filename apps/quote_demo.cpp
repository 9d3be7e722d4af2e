// quote_demo: the quote client library from an application's side. It connects, logs in,
// fetches the symbol list, registers symbols and shows their quotes live, then disconnects
// and sums up. With no --server it first starts a simulated quote server inside the process,
// so that it runs anywhere without setup.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "demo_screen.h"
#include "orv_quote_api.h"
#include "platform/console.h"
#include "quote_board.h"
#include "sim/quote_stream.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void on_signal(int) {
    g_stop.store(true);
}

using steady = std::chrono::steady_clock;

// What the command line asks for.
struct demo_options {
    std::string server_ip;  // empty: the embedded simulator
    std::uint16_t server_port = 0;
    std::string user = "demo";
    std::string password = "demo";
    double seconds = 0;  // 0: until Ctrl-C
    double rate = 5;     // of the embedded simulator
    bool verbose = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> symbols;
};

constexpr const char* usage =
    "Usage: quote_demo [options] [SYMBOL ...]\n"
    "Logs in to a quote server, registers the symbols (default Au(T+D) Ag(T+D)) and shows\n"
    "their quotes live. Without --server it starts a simulated server in the process.\n"
    "\n"
    "  --server IP:PORT   a real quote server instead of the embedded simulator\n"
    "  --user NAME        user id (default demo)\n"
    "  --password TEXT    password (default demo); only its MD5 digest is sent\n"
    "  --seconds N        stop after N seconds (default: run until Ctrl-C)\n"
    "  --rate R           quotes per second per symbol of the embedded simulator (default 5)\n"
    "  --verbose          show the library's log lines (and the simulator's events)\n"
    "  --version          print the version and exit\n"
    "  -h, --help         this text\n";

// The options, or an error text.
std::string parse(int argc, char** argv, demo_options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_next = i + 1 < argc;
        if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--verbose") {
            o.verbose = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--server" || arg == "--user" || arg == "--password" ||
                   arg == "--seconds" || arg == "--rate") {
            if (!has_next) return arg + " wants a value";
            const std::string value = argv[++i];
            if (arg == "--server" && !parse_server(value, o.server_ip, o.server_port)) {
                return "--server wants IP:PORT";
            }
            if (arg == "--user") o.user = value;
            if (arg == "--password") o.password = value;
            if (arg == "--seconds" && !parse_positive(value, o.seconds)) {
                return "--seconds wants a positive number";
            }
            if (arg == "--rate" && !parse_positive(value, o.rate)) return "--rate wants R > 0";
        } else if (arg.rfind("-", 0) == 0) {
            return "unknown option " + arg;
        } else {
            o.symbols.push_back(arg);
        }
    }
    if (o.user.size() > 15) return "--user: at most 15 characters";
    if (o.password.size() > 32) return "--password: at most 32 characters";
    if (o.symbols.empty()) o.symbols = {"Au(T+D)", "Ag(T+D)"};
    return {};
}

double seconds_since(steady::time_point start) {
    return std::chrono::duration<double>(steady::now() - start).count();
}

// The demo's own thread of control: one phase after the other, redrawing while it waits. The
// main thread only; it holds references to the board and the screen, which outlive it.
class demo_run {
public:
    demo_run(const demo_options& options, quote_board& board, demo_screen& screen)
        : m_options(options), m_board(board), m_screen(screen), m_start(steady::now()) {}

    // Waits for `condition`, redrawing, until it holds (true), time runs out or Ctrl-C.
    bool wait(const std::function<bool(const board_state&)>& condition, int timeout_ms) {
        const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
        while (!g_stop.load() && steady::now() < deadline) {
            if (m_board.wait_for(condition, 100)) return true;
            redraw();
        }
        return false;
    }

    void redraw() {
        m_screen.draw(m_board.state(), seconds_since(m_start), m_board.take_log_lines());
    }

    // Registers every wanted symbol the server lists, under the exchange code it gave.
    void register_symbols(OrvQuoteApi* api) {
        const board_state state = m_board.state();
        for (const std::string& wanted : m_options.symbols) {
            m_board.show(wanted);
            const auto listed = std::find_if(state.symbols.begin(), state.symbols.end(),
                                             [&](const auto& s) { return s.second == wanted; });
            if (listed == state.symbols.end()) {
                m_board.add_log_line("[demo] " + wanted + " is not in the server's list");
                continue;
            }
            api->RegisterSymbol(static_cast<char>(listed->first), wanted.c_str());
        }
    }

    void live() {
        m_screen.set_status("live", true);
        while (!g_stop.load() &&
               (m_options.seconds <= 0 || seconds_since(m_start) < m_options.seconds)) {
            redraw();
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        redraw();
    }

    double elapsed() const { return seconds_since(m_start); }

private:
    const demo_options& m_options;
    quote_board& m_board;
    demo_screen& m_screen;
    const steady::time_point m_start;
};

void print_summary(const quote_board& board, double elapsed, bool embedded) {
    const board_state state = board.state();
    std::printf("\n== summary\nquotes received: %llu in %.1f s (%.1f per second)\n",
                static_cast<unsigned long long>(state.quotes), elapsed,
                elapsed > 0 ? static_cast<double>(state.quotes) / elapsed : 0.0);
    for (const auto& row : state.rows) {
        std::printf("  %-12s %llu\n", row.first.c_str(),
                    static_cast<unsigned long long>(row.second.quotes));
    }
    std::printf("reconnects seen: %d\n", state.reconnects);
    std::vector<double> latencies = board.latencies();
    // MarketValue16 is the simulator's steady-clock send time, comparable only in-process.
    if (embedded && !latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        const auto at = [&](double fraction) {
            return latencies[static_cast<std::size_t>(fraction *
                                                      static_cast<double>(latencies.size() - 1))];
        };
        std::printf("latency from the simulator's send to OnQuote: median %.0f us, 99%% %.0f us\n",
                    at(0.5), at(0.99));
    }
}

int run(const demo_options& options) {
    quote_board board(options.verbose);
    const bool embedded = options.server_ip.empty();
    std::unique_ptr<sim::quote_stream> simulator;
    OqsTcpInfo server;
    if (embedded) {
        sim::sim_options sim_options;
        sim_options.port = 0;
        sim_options.rate = options.rate;
        sim::quote_stream::log_fn log = nullptr;
        if (options.verbose) {
            log = [&board](const std::string& line) { board.add_log_line("[sim] " + line); };
        }
        simulator = std::make_unique<sim::quote_stream>(sim_options, log);
        if (!simulator->listening()) {
            std::fprintf(stderr, "quote_demo: the embedded simulator cannot listen\n");
            return 1;
        }
        std::strcpy(server.ServerIp, "127.0.0.1");
        server.ServerPort = simulator->port();
    } else {
        std::strcpy(server.ServerIp, options.server_ip.c_str());
        server.ServerPort = options.server_port;
    }
    const std::string address =
        std::string(server.ServerIp) + ":" + std::to_string(server.ServerPort);
    demo_screen screen(platform::stdout_is_terminal(),
                       "quote_demo  " + address + (embedded ? " (embedded simulator)" : ""),
                       options.symbols);
    demo_run demo(options, board, screen);

    OrvQuoteApi* api = CreateOrvQuoteApi();
    int status = 0;
    screen.set_status("connecting to " + address);
    demo.redraw();
    if (!api->ConnServer(server, &board)) {
        std::fprintf(stderr, "quote_demo: cannot connect to %s\n", address.c_str());
        status = 1;
    } else {
        OrvLoginInfo login;
        std::strcpy(login.UserId, options.user.c_str());
        std::strcpy(login.Password, options.password.c_str());
        screen.set_status("logging in as " + options.user);
        api->LoginToOqs(login);
        // The library reports the login once the symbol list is in, or gives up after 5 s.
        if (!demo.wait([](const board_state& s) { return s.login_done; }, 15000)) {
            if (!g_stop.load()) std::fprintf(stderr, "quote_demo: no answer to the login\n");
            status = 1;
        } else if (!board.state().login_ok) {
            std::fprintf(stderr, "quote_demo: login failed: %s\n",
                         board.state().login_text.c_str());
            status = 1;
        } else {
            screen.set_status("fetching the symbol list");
            api->QuerySymbolList();
            if (demo.wait([](const board_state& s) { return s.list_done; }, 10000)) {
                demo.register_symbols(api);
                demo.live();
            }
        }
    }
    // Disconnect and destroy first: after DestroyOrvQuoteApi returns no event arrives, so the
    // board and the simulator may go afterwards.
    api->Disconnect();
    DestroyOrvQuoteApi(api);
    simulator.reset();
    if (status == 0) {
        print_summary(board, demo.elapsed(), embedded);
        if (board.state().quotes == 0 && !g_stop.load()) status = 2;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    demo_options options;
    const std::string error = parse(argc, argv, options);
    if (options.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quote_demo %s\n", ORVQUOTE_VERSION);
        return 0;
    }
    if (!error.empty()) {
        std::fprintf(stderr, "quote_demo: %s\nTry 'quote_demo --help'.\n", error.c_str());
        return 2;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    return run(options);
}
