// minimal: the smallest complete program on the orvquote library, built from the installed
// package alone. It connects to a quote server, logs in, registers the symbols named on the
// command line and prints one line per quote for a number of seconds.
//
//   minimal [--server IP:PORT] [--user NAME] [--password TEXT] [--seconds N] [SYMBOL ...]
//
// Defaults: 127.0.0.1:7100, user demo, password demo, 10 seconds, the symbol Au(T+D); the
// simulator that comes with the library (oqs_sim) answers to exactly these.
#include <orv_quote_api.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct options {
    std::string ip = "127.0.0.1";
    int port = 7100;
    std::string user = "demo";
    std::string password = "demo";
    int seconds = 10;
    std::vector<std::string> symbols;
};

// A whole number from low to high, or -1.
int whole_number(const char* text, int low, int high) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) return -1;
    return static_cast<int>(value);
}

// The options, or an error text. The records the library takes have fixed widths, hence the
// length limits.
std::string parse(int argc, char** argv, options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg != "--server" && arg != "--user" && arg != "--password" && arg != "--seconds") {
            if (arg.rfind("-", 0) == 0) return "unknown option " + arg;
            o.symbols.push_back(arg);
            continue;
        }
        if (i + 1 == argc) return arg + " wants a value";
        const std::string value = argv[++i];
        if (arg == "--server") {
            const std::size_t colon = value.rfind(':');
            if (colon == std::string::npos || colon == 0 || colon > 15)
                return "--server wants IP:PORT";
            o.ip = value.substr(0, colon);
            o.port = whole_number(value.c_str() + colon + 1, 1, 65535);
            if (o.port < 0) return "--server wants IP:PORT";
        } else if (arg == "--user") {
            o.user = value;
            if (value.size() > 15) return "--user: at most 15 characters";
        } else if (arg == "--password") {
            o.password = value;
            if (value.size() > 32) return "--password: at most 32 characters";
        } else {
            o.seconds = whole_number(value.c_str(), 1, 86400);
            if (o.seconds < 0) return "--seconds wants a whole number from 1 to 86400";
        }
    }
    if (o.symbols.empty()) o.symbols.push_back("Au(T+D)");
    return {};
}

// The application's side of the library: it receives every event. The library calls it from
// its own threads, several at once, so what main() reads is atomic or guarded by m_mutex.
class quote_printer : public OrvQuoteEventSink {
public:
    quote_printer(OrvQuoteApi* api, std::vector<std::string> wanted)
        : m_api(api), m_wanted(std::move(wanted)), m_listed(m_wanted.size(), false) {}

    // True once logged in; false when the login failed or no answer came within `timeout`.
    bool wait_for_login(std::chrono::seconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, timeout, [this] { return m_login_done; });
        return m_login_ok;
    }

    unsigned long long quotes() const { return m_quotes.load(); }

    void OnLoginReply(bool success, const char* text) override {
        if (!success) std::fprintf(stderr, "minimal: login failed: %s\n", text);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_login_done = true;
            m_login_ok = success;
        }
        m_changed.notify_all();
    }

    // Registering needs the exchange code, which the server's symbol list gives. The list
    // arrives on one library thread, one symbol after the other.
    void OnSymbolListReply(int exchange_code, const char* symbol, bool last) override {
        for (std::size_t i = 0; i < m_wanted.size(); ++i) {
            if (last && !m_listed[i]) {
                std::fprintf(stderr, "minimal: %s is not in the server's list\n",
                             m_wanted[i].c_str());
            } else if (!last && m_wanted[i] == symbol) {
                m_listed[i] = true;
                m_api->RegisterSymbol(static_cast<char>(exchange_code), symbol);
            }
        }
    }

    void OnRegisterReply(int /*exchange_code*/, const char* symbol, bool success) override {
        std::printf("%s %s\n", success ? "registered" : "refused", symbol);
    }

    // The record lies in the library's buffer only during the call: copy what you keep.
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* q) override {
        ++m_quotes;
        std::printf("%-10s %c %s.%03d  last %.2f  bid %.2f x %d  ask %.2f x %d  volume %d\n",
                    q->Symbol, static_cast<char>(exchange_code), q->TimeText,
                    static_cast<int>(q->TimeValue), q->MarketValue1, q->DepthLevels[0].Value,
                    static_cast<int>(q->DepthLevels[0].Count), q->DepthLevels[5].Value,
                    static_cast<int>(q->DepthLevels[5].Count), static_cast<int>(q->MarketCount1));
    }

    void OnServerDisconnected() override { std::fprintf(stderr, "minimal: disconnected\n"); }

private:
    OrvQuoteApi* const m_api;
    const std::vector<std::string> m_wanted;
    std::vector<bool> m_listed;  // by m_wanted's index; the symbol list's thread only
    std::atomic<unsigned long long> m_quotes{0};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_login_done = false;  // guarded by m_mutex
    bool m_login_ok = false;    // guarded by m_mutex
};

}  // namespace

int main(int argc, char** argv) {
    options o;
    const std::string error = parse(argc, argv, o);
    if (!error.empty()) {
        std::fprintf(stderr,
                     "minimal: %s\nusage: minimal [--server IP:PORT] [--user NAME] "
                     "[--password TEXT] [--seconds N] [SYMBOL ...]\n",
                     error.c_str());
        return 2;
    }

    OrvQuoteApi* api = CreateOrvQuoteApi();
    if (api == nullptr) return 1;
    quote_printer sink(api, o.symbols);

    OqsTcpInfo server;  // zero-filled: the copies below stay terminated
    std::strncpy(server.ServerIp, o.ip.c_str(), sizeof server.ServerIp - 1);
    server.ServerPort = static_cast<std::uint16_t>(o.port);
    int status = 1;
    if (!api->ConnServer(server, &sink)) {
        std::fprintf(stderr, "minimal: cannot connect to %s:%d\n", o.ip.c_str(), o.port);
    } else {
        OrvLoginInfo login;
        std::strncpy(login.UserId, o.user.c_str(), sizeof login.UserId - 1);
        std::strncpy(login.Password, o.password.c_str(), sizeof login.Password - 1);
        api->LoginToOqs(login);
        // The library answers the login once the symbol list is in, or gives up after 5 s.
        if (sink.wait_for_login(std::chrono::seconds(10))) {
            api->QuerySymbolList();  // the replies register the wanted symbols
            std::this_thread::sleep_for(std::chrono::seconds(o.seconds));
            status = 0;
        }
    }
    // Disconnects and frees the client; no event arrives after it returns, so the sink may go.
    DestroyOrvQuoteApi(api);
    std::printf("%llu quotes\n", sink.quotes());
    return status;
}
