// Test support: the C face of c_harness.h over the simulator, the standard library's threads
// and the C++ interface.
#include "c_api/c_harness.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/c_client.h"
#include "orv_quote_api.h"
#include "sim/messages.h"
#include "sim/quote_server.h"
#include "sim/sample_data.h"
#include "support/recording_sink.h"

struct th_server {
    sim::quote_server server;
};

struct th_recorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<th_record> records;
};

struct th_thread : std::thread {
    using std::thread::thread;
};

namespace {

int count_locked(th_recorder* recorder, int kind) {
    int n = 0;
    for (const th_record& record : recorder->records) n += kind == 0 || record.kind == kind;
    return n;
}

}  // namespace

extern "C" {

th_server* th_server_start(void) {
    return new th_server;
}

void th_server_stop(th_server* server) {
    delete server;
}

int th_server_port(const th_server* server) {
    return server->server.port();
}

int th_symbol_count(void) {
    return static_cast<int>(sim::sample_symbols().size());
}

void th_make_quote(const char* symbol, int sequence, orvq_quote* out) {
    const OrvMarketDepthQuoteData quote = sim::make_quote(symbol, sequence);
    std::memcpy(out, &quote, sizeof *out);
}

int th_send_quotes(th_server* server, char exchange_code, const char* symbol, int first,
                   int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        bytes += sim::quote_bytes(exchange_code, sim::make_quote(symbol, first + i));
    }
    return server->server.send_raw(sim::all_connections, bytes);
}

int th_drop_all(th_server* server) {
    server->server.drop_all();
    return th_wait_no_connection(server);
}

void th_refuse_logins(th_server* server) {
    server->server.update_script([](sim::reply_script& script) {
        script.login = sim::login_answer{'N', "refused", false};
        script.relogin.reset();
    });
}

int th_wait_no_connection(th_server* server) {
    return server->server.wait_open_count(0, 10000);
}

th_recorder* th_recorder_new(void) {
    return new th_recorder;
}

void th_recorder_free(th_recorder* recorder) {
    delete recorder;
}

void th_add(th_recorder* recorder, int kind, int exchange_code, int value, const char* text,
            const orvq_quote* quote) {
    th_record record{};
    record.kind = kind;
    record.exchange_code = exchange_code;
    record.value = value;
    if (text != nullptr) std::strncpy(record.text, text, sizeof record.text - 1);
    if (quote != nullptr) record.quote = *quote;
    {
        std::lock_guard<std::mutex> guard(recorder->lock);
        recorder->records.push_back(record);
    }
    recorder->changed.notify_all();
}

int th_count(th_recorder* recorder, int kind) {
    std::lock_guard<std::mutex> guard(recorder->lock);
    return count_locked(recorder, kind);
}

int th_wait(th_recorder* recorder, int kind, int count, int timeout_ms) {
    std::unique_lock<std::mutex> lock(recorder->lock);
    return recorder->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                      [&] { return count_locked(recorder, kind) >= count; });
}

int th_get(th_recorder* recorder, int index, th_record* out) {
    std::lock_guard<std::mutex> guard(recorder->lock);
    if (index < 0 || static_cast<std::size_t>(index) >= recorder->records.size()) return 0;
    *out = recorder->records[static_cast<std::size_t>(index)];
    return 1;
}

th_thread* th_thread_start(void (*run)(void*), void* argument) {
    return new th_thread(run, argument);
}

void th_thread_join(th_thread* thread) {
    thread->join();
    delete thread;
}

int th_wait_until(int (*done)(void*), void* argument, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done(argument)) {
        if (std::chrono::steady_clock::now() >= deadline) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 1;
}

int th_pollers(orvq_client* client) {
    return client->pollers();
}

void th_cxx_session(th_server* server, th_recorder* recorder) {
    recording_sink sink;
    OrvQuoteApi* api = CreateOrvQuoteApi();
    OqsTcpInfo address;
    std::strcpy(address.ServerIp, "127.0.0.1");
    address.ServerPort = server->server.port();
    OrvLoginInfo login;
    std::strcpy(login.UserId, "demo");
    std::strcpy(login.Password, "demo");
    api->ConnServer(address, &sink);
    api->LoginToOqs(login);
    sink.wait_count(sink_event::LOGIN, 1);
    api->QuerySymbolList();
    sink.wait_count(sink_event::SYMBOL, sim::sample_symbols().size() + 1);
    api->RegisterSymbol('1', "Au(T+D)");
    api->RegisterSymbol('2', "NOT-LISTED");
    sink.wait_count(sink_event::REGISTER, 1);
    th_send_quotes(server, '1', "0", 7, 2);
    sink.wait_count(sink_event::QUOTE, 2);
    api->UnregisterSymbol('1', "Au(T+D)");
    sink.wait_count(sink_event::UNREGISTER, 1);
    api->Disconnect();
    DestroyOrvQuoteApi(api);
    th_wait_no_connection(server);
    // As the C callbacks record: a log line's level is its value, a flag is the value.
    // clang-format off
    static const int kinds[] = {ORVQ_EVENT_CONNECTED, ORVQ_EVENT_DISCONNECTED,
        ORVQ_EVENT_LOGIN_REPLY, TH_QUOTE, ORVQ_EVENT_LOG, ORVQ_EVENT_REGISTER_REPLY,
        ORVQ_EVENT_UNREGISTER_REPLY, ORVQ_EVENT_SYMBOL};  // by sink_event's kind
    // clang-format on
    for (const sink_event& e : sink.events()) {
        const bool log = e.kind == sink_event::LOG, quote = e.kind == sink_event::QUOTE;
        orvq_quote record;
        std::memcpy(&record, &e.quote, sizeof record);
        th_add(recorder, kinds[e.kind], log ? 0 : e.code, log ? e.code : e.flag,
               quote ? nullptr : e.text.c_str(), quote ? &record : nullptr);
    }
}

}  // extern "C"
