// header_client_check HOST PORT: the header-only client against a running quote server, built
// with whatever compiler and standard library the check chooses (clang++ with libc++, against
// the library that g++ and libstdc++ built). Two clients log in as demo/demo and register
// Au(T+D): one takes quotes in its sink, one polls them; both must see quotes with the right
// record within 15 s. Exit 0 and a line per client when they do.
#include <orv_quote_client.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

using std::chrono::steady_clock;

// Registers the wanted symbol from the symbol list, counts quotes that arrive by callback.
class checker : public orvq::sink {
public:
    orvq::client* client = nullptr;

    void on_login_reply(bool success, const char* text) override {
        if (!success) std::fprintf(stderr, "login refused: %s\n", text);
        if (success) client->query_symbols();
    }
    void on_symbol(int exchange_code, const char* symbol, bool last) override {
        if (!last && std::string(symbol) == "Au(T+D)") {
            client->register_symbol(static_cast<char>(exchange_code), symbol);
        }
    }
    void on_quote(int, const orvq::quote& quote) override { seen(quote); }

    // A quote of the registered symbol, with the numbers a quote carries.
    void seen(const orvq::quote& quote) {
        const bool good = std::strcmp(quote.Symbol, "Au(T+D)") == 0 && quote.MarketValue1 > 0 &&
                          std::strlen(quote.TradingDay) == 8;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_good += good ? 1 : 0;
            m_bad += good ? 0 : 1;
        }
        m_changed.notify_all();
    }

    bool wait_for(int quotes) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(15),
                                  [&] { return m_good >= quotes; }) &&
               m_bad == 0;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_good = 0, m_bad = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: header_client_check HOST PORT\n");
        return 2;
    }
    try {
        checker by_callback, by_poll;
        orvq::client first(by_callback);
        orvq::client second(by_poll, orvq::quotes::by_poll, 1024);
        by_callback.client = &first;
        by_poll.client = &second;
        for (orvq::client* c : {&first, &second}) {
            c->connect(argv[1], std::atoi(argv[2]));
            c->login("demo", "demo");
        }
        std::vector<orvq::quote> batch(64);
        const auto deadline = steady_clock::now() + std::chrono::seconds(15);
        int polled = 0;
        while (polled < 3 && steady_clock::now() < deadline) {
            const int n = second.poll_quotes(batch.data(), static_cast<int>(batch.size()), 500);
            for (int i = 0; i < n; ++i) by_poll.seen(batch[static_cast<std::size_t>(i)]);
            polled += n;
        }
        if (!by_callback.wait_for(3) || !by_poll.wait_for(3)) {
            std::fprintf(stderr, "header_client_check: too few quotes, or wrong ones\n");
            return 1;
        }
        const orvq::stats stats = second.get_stats();
        std::printf("header-only client %s: quotes by callback and by poll (%llu received)\n",
                    orvq::client::version(),
                    static_cast<unsigned long long>(stats.quotes_received));
    } catch (const orvq::error& e) {
        std::fprintf(stderr, "header_client_check: %s (%d)\n", e.what(), e.status());
        return 1;
    }
    return 0;
}
