// Test support: an OrvQuoteEventSink that records every call with the thread it came on,
// and lets a test wait, with a bound, until the recording satisfies a condition.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orv_quote_api.h"

struct sink_event {
    enum kind_t {
        CONNECTED,
        DISCONNECTED,
        LOGIN,
        QUOTE,
        LOG,
        REGISTER,
        UNREGISTER,
        SYMBOL
    };
    explicit sink_event(kind_t what) : kind(what) {}
    kind_t kind;
    int code = 0;       // exchange code, or log level
    std::string text;   // symbol, login text or log line
    bool flag = false;  // success / last
    OrvMarketDepthQuoteData quote{};
    const void* pointer = nullptr;  // where the library's record lay (quotes only)
    std::thread::id thread;
};

class recording_sink : public OrvQuoteEventSink {
public:
    void OnServerConnected() override { record(sink_event(sink_event::CONNECTED)); }
    void OnServerDisconnected() override { record(sink_event(sink_event::DISCONNECTED)); }
    void OnLoginReply(bool success, const char* text) override {
        record(make(sink_event::LOGIN, 0, text, success));
    }
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override {
        sink_event event = make(sink_event::QUOTE, exchange_code, quote->Symbol, false);
        std::memcpy(&event.quote, quote, sizeof event.quote);
        event.pointer = quote;
        record(std::move(event));
    }
    void OnLogText(int level, const char* text, int length) override {
        sink_event event = make(sink_event::LOG, level, text, false);
        event.flag = static_cast<int>(event.text.size()) == length;
        record(std::move(event));
    }
    void OnRegisterReply(int exchange_code, const char* symbol, bool success) override {
        record(make(sink_event::REGISTER, exchange_code, symbol, success));
    }
    void OnUnregisterReply(int exchange_code, const char* symbol, bool success) override {
        record(make(sink_event::UNREGISTER, exchange_code, symbol, success));
    }
    void OnSymbolListReply(int exchange_code, const char* symbol, bool last) override {
        record(make(sink_event::SYMBOL, exchange_code, symbol, last));
    }

    std::vector<sink_event> events() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_events;
    }
    std::vector<sink_event> of(sink_event::kind_t kind) const {
        std::vector<sink_event> out;
        for (auto& event : events()) {
            if (event.kind == kind) out.push_back(event);
        }
        return out;
    }
    std::size_t count(sink_event::kind_t kind) const { return of(kind).size(); }
    bool has_log(const std::string& line) const {
        for (auto& event : of(sink_event::LOG)) {
            if (event.text == line) return true;
        }
        return false;
    }
    bool has_log_containing(const std::string& part) const {
        for (auto& event : of(sink_event::LOG)) {
            if (event.text.find(part) != std::string::npos) return true;
        }
        return false;
    }
    // Whether a whole symbol list report has come, its end included.
    bool symbol_list_ended() const {
        const auto symbols = of(sink_event::SYMBOL);
        return !symbols.empty() && symbols.back().flag;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_events.clear();
    }

    // Waits until condition() holds, at most timeout_ms; returns the last answer.
    bool wait_for(const std::function<bool()>& condition, int timeout_ms = 10000) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            lock.unlock();
            if (condition()) return true;
            lock.lock();
            if (std::chrono::steady_clock::now() >= deadline) break;
            m_changed.wait_for(lock, std::chrono::milliseconds(20));
        }
        lock.unlock();
        return condition();
    }
    bool wait_count(sink_event::kind_t kind, std::size_t n, int timeout_ms = 10000) const {
        return wait_for([&] { return count(kind) >= n; }, timeout_ms);
    }

private:
    static sink_event make(sink_event::kind_t kind, int code, const char* text, bool flag) {
        sink_event event{kind};
        event.code = code;
        event.text = text != nullptr ? text : "";
        event.flag = flag;
        return event;
    }
    void record(sink_event event) {
        event.thread = std::this_thread::get_id();
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_events.push_back(std::move(event));
        }
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<sink_event> m_events;
};
