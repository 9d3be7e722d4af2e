// Test support: an OrvQuoteEventSink that records every call with the thread it came on, lets a
// test wait, with a bound, until the recording satisfies a condition, and counts what breaks
// the library's promises instead of crashing on it: a text not terminated within its bound (the
// longest the library hands over is a log line of 1023 characters), a log length that is not
// the text's, and any call after the test marked the client destroyed.
#pragma once

#include <atomic>
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
    enum kind_t { CONNECTED, DISCONNECTED, LOGIN, QUOTE, LOG, REGISTER, UNREGISTER, SYMBOL };
    explicit sink_event(kind_t what) : kind(what) {}
    kind_t kind;
    int code = 0;       // exchange code, or log level
    std::string text;   // symbol, login text or log line
    bool flag = false;  // success / last
    OrvMarketDepthQuoteData quote{};
    std::thread::id thread;
};

class recording_sink : public OrvQuoteEventSink {
public:
    static constexpr std::size_t text_bound = 1024;

    std::atomic<bool> destroyed{false};  // set by the test right after DestroyOrvQuoteApi
    std::atomic<int> late_calls{0};
    std::atomic<int> unterminated{0};

    void OnServerConnected() override { record(sink_event(sink_event::CONNECTED)); }
    void OnServerDisconnected() override { record(sink_event(sink_event::DISCONNECTED)); }
    void OnLoginReply(bool success, const char* text) override {
        record(make(sink_event::LOGIN, 0, text, success));
    }
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override {
        // The record's own texts may fill their fields: keep the symbol within its width.
        sink_event event{sink_event::QUOTE};
        event.code = exchange_code;
        event.text.assign(quote->Symbol, ::strnlen(quote->Symbol, sizeof quote->Symbol));
        std::memcpy(&event.quote, quote, sizeof event.quote);
        record(std::move(event));
    }
    void OnLogText(int level, const char* text, int length) override {
        sink_event event = make(sink_event::LOG, level, text, false);
        event.flag = static_cast<int>(event.text.size()) == length;
        if (!event.flag) unterminated.fetch_add(1);
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

    // Waits until condition() holds, at most timeout_ms; returns the last answer. The
    // condition is looked at after every recorded call and every 20 ms.
    bool wait_for(const std::function<bool()>& condition, int timeout_ms = 10000) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
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
    sink_event make(sink_event::kind_t kind, int code, const char* text, bool flag) {
        sink_event event{kind};
        event.code = code;
        // Reading up to the bound stays inside any buffer the library owns, so a missing
        // terminator shows up here and not as an overrun.
        const std::size_t length = text != nullptr ? ::strnlen(text, text_bound) : 0;
        if (length == text_bound) unterminated.fetch_add(1);
        event.text.assign(text != nullptr ? text : "", length);
        event.flag = flag;
        return event;
    }
    void record(sink_event event) {
        if (destroyed.load()) late_calls.fetch_add(1);
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
