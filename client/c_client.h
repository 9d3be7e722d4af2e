// Internal. c_client: the object behind the C interface's orvq_client handle. It owns the one
// client object (Coqc_tcp) and is that client's sink and connection observer: each event goes
// to the application's callback table or, in pull mode, into the quote ring and the event
// queue. Threads: the application's (operations, polls, statistics) and the client's own
// (events). The table and the mode are fixed at creation; m_poll_lock guards the count of
// pollers inside, which destruction waits to fall to zero. No lock is held across a callback.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "orv_quote_c.h"
#include "client/coqc_tcp.h"
#include "client/event_queue.h"
#include "client/quote_ring.h"

class c_client : public OrvQuoteEventSink, public connection_observer {
public:
    static constexpr std::uint32_t event_capacity = 16384;

    // Copies the entries `callbacks` has room for (null: none). Pull mode, without on_quote,
    // allocates its ring of `queue_capacity` quotes here. Throws std::bad_alloc.
    c_client(const orvq_callbacks* callbacks, void* user, std::uint32_t queue_capacity);
    // Wakes every poller (they return ORVQ_ERR_CLOSED), waits for them to leave, then
    // disconnects and destroys the client object; no callback runs after it. Called before
    // the destructor, so that no thread calls this object while its destruction begins.
    void shut_down();
    ~c_client() override;
    c_client(const c_client&) = delete;
    c_client& operator=(const c_client&) = delete;

    // Whether the calling thread is inside one of this client's callbacks.
    bool in_callback() const;

    // The operations, with the C interface's status codes. Arguments are checked by the caller.
    int connect(const char* host, int port);
    int login(const char* user, const char* password);
    void want(char exchange_code, const char* symbol, bool wanted);
    void query_symbols() { m_core->QuerySymbolList(); }
    void disconnect() { m_core->Disconnect(); }
    int poll_quotes(orvq_quote* quotes, char* codes, std::int64_t* times, int max, int timeout_ms);
    int next_event(orvq_event* event, int timeout_ms);
    void get_stats(orvq_stats* stats) const;

    // Pollers inside poll_quotes and next_event now (for tests).
    int pollers();

    // OrvQuoteEventSink: every thread of the client object.
    void OnServerConnected() override;
    void OnServerDisconnected() override;
    void OnLoginReply(bool success, const char* text) override;
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override;
    void OnLogText(int level, const char* text, int length) override;
    void OnRegisterReply(int exchange_code, const char* symbol, bool success) override;
    void OnUnregisterReply(int exchange_code, const char* symbol, bool success) override;
    void OnSymbolListReply(int exchange_code, const char* symbol, bool last) override;

    // connection_observer: the worker and the transport's threads.
    void on_connection_lost() override;
    void on_connection_restored() override;
    void on_received_end() override;

private:
    // Runs one callback with this client marked as the calling thread's.
    template <class Call>
    void inside(Call call);
    // An event without a callback: queued in pull mode, dropped otherwise.
    void queue(std::int32_t kind, int exchange_code, int value, const char* text);
    bool enter_poll();
    bool leave_poll();

    orvq_callbacks m_table;
    void* const m_user;
    std::unique_ptr<quote_ring> m_ring;     // pull mode only
    std::unique_ptr<event_queue> m_events;  // pull mode only
    std::atomic<std::uint64_t> m_received{0};
    // The receive time of the quotes of the receive being handed on; receive thread only.
    std::int64_t m_receive_ns = 0;
    std::atomic<std::uint64_t> m_reconnects{0};
    // Set as DISCONNECTED is reported, cleared as CONNECTED is: a poller that finds it set
    // and the queue empty knows no quote will come.
    std::atomic<bool> m_session_ended{false};
    std::mutex m_poll_lock;
    std::condition_variable m_poll_left;
    int m_pollers = 0;       // guarded by m_poll_lock
    bool m_closing = false;  // guarded by m_poll_lock
    // Last: made after the queues it reports into, destroyed before them.
    std::unique_ptr<Coqc_tcp> m_core;
};

// The C interface's handle is the adapter itself.
struct orvq_client final : c_client {
    using c_client::c_client;
};
