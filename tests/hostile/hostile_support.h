// Test support for the hostile-server and misuse tests: a recording sink that also checks what
// the library hands it (every text terminated within its bound, no call after the client was
// destroyed), a cheap counting sink for floods, and a fixture built on the integration one.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "../integration/client_fixture.h"
#include "sim/messages.h"
#include "sim/sample_data.h"

// Records like recording_sink and counts violations instead of crashing on them, so that a
// test reports which rule broke. Texts: the longest the library may hand over is a log line of
// 1023 characters, so anything unterminated within 1024 bytes is a violation.
class checked_sink : public recording_sink {
public:
    static constexpr std::size_t text_bound = 1024;

    // Set by the test right after DestroyOrvQuoteApi returns.
    std::atomic<bool> destroyed{false};
    std::atomic<int> late_calls{0};
    std::atomic<int> unterminated{0};

    void OnServerConnected() override {
        check(nullptr);
        recording_sink::OnServerConnected();
    }
    void OnServerDisconnected() override {
        check(nullptr);
        recording_sink::OnServerDisconnected();
    }
    void OnLoginReply(bool success, const char* text) override {
        check(text);
        recording_sink::OnLoginReply(success, text);
    }
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override {
        check(nullptr);
        recording_sink::OnQuote(exchange_code, quote);
    }
    void OnLogText(int level, const char* text, int length) override {
        check(text);
        if (text != nullptr && static_cast<int>(::strnlen(text, text_bound)) != length) {
            unterminated.fetch_add(1);
        }
        recording_sink::OnLogText(level, text, length);
    }
    void OnRegisterReply(int exchange_code, const char* symbol, bool success) override {
        check(symbol);
        recording_sink::OnRegisterReply(exchange_code, symbol, success);
    }
    void OnUnregisterReply(int exchange_code, const char* symbol, bool success) override {
        check(symbol);
        recording_sink::OnUnregisterReply(exchange_code, symbol, success);
    }
    void OnSymbolListReply(int exchange_code, const char* symbol, bool last) override {
        check(symbol);
        recording_sink::OnSymbolListReply(exchange_code, symbol, last);
    }

private:
    void check(const char* text) {
        if (destroyed.load()) late_calls.fetch_add(1);
        // Reading up to the bound stays inside any buffer the library owns, so a missing
        // terminator shows up here and not as an overrun in the recorder.
        if (text != nullptr && ::strnlen(text, text_bound) == text_bound) unterminated.fetch_add(1);
    }
};

// For floods: counts quotes per symbol and checks their order by MarketCount1 (1000 + the
// sequence number make_quote was given), without keeping them.
class counting_sink : public OrvQuoteEventSink {
public:
    explicit counting_sink(std::string symbol) : m_symbol(std::move(symbol)) {}

    void OnQuote(int, const OrvMarketDepthQuoteData* quote) override {
        if (::strnlen(quote->Symbol, sizeof quote->Symbol) == sizeof quote->Symbol ||
            m_symbol != quote->Symbol) {
            return;
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        if (quote->MarketCount1 != 1000 + static_cast<int>(m_count)) ++m_out_of_order;
        ++m_count;
        if (m_count % 1000 == 0) m_changed.notify_all();
    }
    void OnLoginReply(bool success, const char*) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_logged_in = success;
        m_changed.notify_all();
    }
    void OnRegisterReply(int, const char* symbol, bool success) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (success && m_symbol == symbol) ++m_registered;
        m_changed.notify_all();
    }

    std::size_t count() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_count;
    }
    std::size_t out_of_order() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_out_of_order;
    }
    // Waits, at most timeout_ms, until the condition on (logged in, registrations, quotes) holds.
    template <class Condition>
    bool wait(Condition condition, int timeout_ms) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [&] { return condition(m_logged_in, m_registered, m_count); });
    }
    bool wait_quotes(std::size_t n, int timeout_ms) const {
        // Quotes notify every thousand only; poll the rest in short waits.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        std::unique_lock<std::mutex> lock(m_mutex);
        while (m_count < n) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            m_changed.wait_for(lock, std::chrono::milliseconds(20));
        }
        return true;
    }

private:
    const std::string m_symbol;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_logged_in = false;
    std::size_t m_registered = 0;
    std::size_t m_count = 0;
    std::size_t m_out_of_order = 0;
};

// The integration fixture with a checking sink next to the recording one. Tests use `checked`
// where they care about what the library hands over, `sink` otherwise.
class hostile_fixture : public client_fixture {
protected:
    void TearDown() override {
        client_fixture::TearDown();
        api = nullptr;
        EXPECT_EQ(checked.unterminated.load(), 0) << "a text reached the sink unterminated";
    }
    // Connects and logs in with the checking sink; returns when the login has been reported.
    void log_in_checked() {
        ASSERT_TRUE(api->ConnServer(address(), &checked));
        api->LoginToOqs(credentials());
        ASSERT_TRUE(checked.wait_count(sink_event::LOGIN, 1));
        ASSERT_TRUE(checked.of(sink_event::LOGIN)[0].flag);
    }
    // Connects with the checking sink and logs in while the server holds back its answer;
    // returns once the server has seen the login. `logins`: how many it has seen by then.
    void log_in_unanswered(std::size_t logins = 1) {
        server.update_script([](sim::reply_script& s) { s.login.silent = true; });
        ASSERT_TRUE(api->ConnServer(address(), &checked));
        api->LoginToOqs(credentials());
        ASSERT_TRUE(server.wait_request('L', logins, 5000));
    }
    // Destroys the client and marks the sink, so that any later call counts as late.
    void destroy() {
        DestroyOrvQuoteApi(api);
        checked.destroyed.store(true);
        api = nullptr;
    }
    // Registers and waits for the server's confirmation.
    void register_and_wait(recording_sink& target, char exchange, const char* symbol) {
        const std::size_t before = target.count(sink_event::REGISTER);
        api->RegisterSymbol(exchange, symbol);
        ASSERT_TRUE(target.wait_count(sink_event::REGISTER, before + 1));
    }
    static std::vector<std::size_t> every_offset(std::size_t length) {
        std::vector<std::size_t> cuts;
        for (std::size_t k = 1; k < length; ++k) cuts.push_back(k);
        return cuts;
    }

    checked_sink checked;
};
