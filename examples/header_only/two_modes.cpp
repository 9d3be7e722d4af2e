// two_modes: the header-only C++ client (orv_quote_client.hpp) in both of its ways to receive
// quotes. It is compiled entirely by your compiler and standard library and reaches the shipped
// library through its C interface only, so it builds with Microsoft's compiler, or with clang++
// and libc++, against the same orvquote.dll / liborvquote.so.1 as a g++ program.
//
// Two clients log in to a quote server and register one symbol: the first takes its quotes in
// its sink, on the library's receive thread; the second polls them in batches on this thread
// while its sink still gets every other event. Each prints its quotes until it has `count`, for
// at most 15 seconds.
//
//   two_modes HOST PORT [SYMBOL [COUNT]]     (defaults Au(T+D) and 3; user demo, password demo)
//
// Exit status 0 once both clients had their quotes.
#include <orv_quote_client.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Registers the symbol once the server's list names it, and counts the quotes it is given.
// Calls come on the library's threads: what main() reads is guarded by m_lock.
class quote_counter : public orvq::sink {
public:
    quote_counter(const char* mode, std::string symbol) : m_mode(mode), m_symbol(symbol) {}

    orvq::client* client = nullptr;  // set before the client connects

    void on_login_reply(bool success, const char* text) override {
        if (success) {
            client->query_symbols();  // the replies register the symbol
        } else {
            std::fprintf(stderr, "two_modes: login refused: %s\n", text);
        }
    }
    void on_symbol(int exchange_code, const char* symbol, bool last) override {
        if (!last && m_symbol == symbol) client->register_symbol(char(exchange_code), symbol);
    }
    void on_quote(int exchange_code, const orvq::quote& q) override { count(exchange_code, q); }

    void count(int exchange_code, const orvq::quote& q) {
        std::printf("%-8s %-10s %c %s.%03d  last %.2f\n", m_mode, q.Symbol, char(exchange_code),
                    q.TimeText, int(q.TimeValue), q.MarketValue1);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_quotes;
        }
        m_changed.notify_all();
    }

    bool wait_for(int quotes, std::chrono::steady_clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_until(lock, deadline, [&] { return m_quotes >= quotes; });
    }

private:
    const char* const m_mode;
    const std::string m_symbol;
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_quotes = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: two_modes HOST PORT [SYMBOL [COUNT]]\n");
        return 2;
    }
    const std::string symbol = argc > 3 ? argv[3] : "Au(T+D)";
    const int wanted = argc > 4 ? std::atoi(argv[4]) : 3;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    try {
        // The sinks outlive their clients: declared first, destroyed last.
        quote_counter by_callback("callback", symbol), by_poll("poll", symbol);
        orvq::client first(by_callback);
        orvq::client second(by_poll, orvq::quotes::by_poll, 4096);
        by_callback.client = &first;
        by_poll.client = &second;
        for (orvq::client* c : {&first, &second}) {
            c->connect(argv[1], std::atoi(argv[2]));
            c->login("demo", "demo");
        }
        std::vector<orvq::quote> batch(256);
        std::vector<char> codes(batch.size());
        for (int polled = 0; polled < wanted && std::chrono::steady_clock::now() < deadline;) {
            const int n = second.poll_quotes(batch.data(), int(batch.size()), 200, codes.data());
            for (int i = 0; i < n; ++i) by_poll.count(codes[i], batch[i]);
            polled += n;
        }
        const bool both =
            by_callback.wait_for(wanted, deadline) && by_poll.wait_for(wanted, deadline);
        std::printf("two_modes on orvquote %s: %s\n", orvq::client::version(),
                    both ? "quotes by callback and by poll" : "too few quotes");
        return both ? 0 : 1;
    } catch (const orvq::error& e) {
        std::fprintf(stderr, "two_modes: %s (%d)\n", e.what(), e.status());
        return 1;
    }
}
