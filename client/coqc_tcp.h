// Internal. Coqc_tcp is the one implementation of OrvQuoteApi: it holds the server address,
// the credentials, the application's sink, the symbol tables that drive registration, the
// send queue of its worker and the TCP transport.
// Threads: the application's (the API), the transport's receive thread (through the receive
// path), the worker, and short-lived closing threads. m_queue_lock guards the
// send queue, m_symbol_lock the three symbol tables, m_info_lock the server address and
// credentials, m_transport_lock the transport pointer; none is held across a sink call and
// no two are held together.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "orv_quote_api.h"
#include "client/connection_observer.h"
#include "client/oqc_data_and_event.h"
#include "platform/thread.h"
#include "tools/critical_lock.h"
#include "tools/map_str.h"
#include "tools/null_lock.h"
#include "tools/str_utils.h"
#include "tools/wake_signal.h"

class socket_cache_client;

class Coqc_tcp final : public OrvQuoteApi {
public:
    using symbol_map = KESTRO::TOOLS::map_str<oqs_symbol_info, 128, KESTRO::TOOLS::null_lock>;
    using code_map = KESTRO::TOOLS::map_str<int, 128, KESTRO::TOOLS::null_lock>;
    using transport_ptr = std::shared_ptr<socket_cache_client>;

    enum status : std::int32_t {
        STATUS_DISCONNECTED = 0,
        STATUS_CONNECTED = 1,
        STATUS_LOGGED_IN = 2
    };

    Coqc_tcp();
    // Performs Disconnect, then waits for every thread that can still call into the
    // client (the worker, closing threads) before the members go.
    ~Coqc_tcp() override;
    Coqc_tcp(const Coqc_tcp&) = delete;
    Coqc_tcp& operator=(const Coqc_tcp&) = delete;

    // OrvQuoteApi. ConnServer, LoginToOqs and Disconnect: one controlling thread at a time.
    // QuerySymbolList, RegisterSymbol, UnregisterSymbol: any thread, any time.
    bool ConnServer(const OqsTcpInfo& server, OrvQuoteEventSink* sink) override;
    bool ConnServer(const std::vector<OqsTcpInfo>& servers, OrvQuoteEventSink* sink) override;
    bool ConnMulticast(const std::vector<OqsMulticastInfo>& sources,
                       OrvQuoteEventSink* sink) override;
    void LoginToOqs(const OrvLoginInfo& login) override;
    void QuerySymbolList() override;
    void RegisterSymbol(char exchange_code, const char* symbol) override;
    void UnregisterSymbol(char exchange_code, const char* symbol) override;
    void Disconnect() override;

    // Formats one line (cut to 1023 characters) and hands it to the sink's OnLogText;
    // dropped while there is no sink. Any thread.
    void Log(int level, const char* format, ...) KESTRO_PRINTF_FORMAT(3, 4);

    std::int32_t get_status() const { return m_status.load(); }

    // Whether ConnServer and LoginToOqs would act now, rather than refuse with a log line.
    bool can_connect() const;
    bool can_log_in() const;

    // The C interface's hook (not owned); set before the first ConnServer. Any thread.
    void set_connection_observer(connection_observer* observer) { m_observer.store(observer); }

private:
    friend class receive_path;     // the receive half of the client works on its members
    friend struct coqc_tcp_probe;  // unit tests look at the tables and flags

    OrvQuoteEventSink* sink() const { return m_sink.load(); }
    void ClearRegistrations();
    bool ConnectTransport();
    void StoreLoginInfo(const OrvLoginInfo& login);
    bool SendLoginRequest();
    void DropTransport();
    void Reset();
    void enqueue(std::unique_ptr<oqc_data_and_event> item);
    // A new session starts without the reconnect requests that an old one left queued; the
    // application's symbol list requests stay for the next worker.
    void drop_reconnect_requests();
    // Sets the stop flag and wakes every wait of the worker.
    void request_stop();
    // Tells the application that its connection has ended.
    void report_end();
    // The same, unless it has heard so already: for a loss that a worker took over and then
    // gave up on, or that a stop overtook.
    void report_unreported_end();
    // Tell the observer of a loss the worker takes over, once, and of its end in a relogin.
    void tell_connection_lost();
    void tell_connection_restored();
    // Updates the wanted table for RegisterSymbol (want) and UnregisterSymbol.
    void change_wanted(char exchange_code, const char* symbol, bool want);

    // Transport access: the pointer is swapped under m_transport_lock, and every user holds
    // its own reference, so a transport is never deleted under a thread that still uses it
    // nor on one of its own threads.
    transport_ptr transport() const;
    transport_ptr take_transport();
    void set_transport(transport_ptr transport);
    transport_ptr make_connected_transport(bool* connected);
    int transport_send(const char* data, int length);
    // Closes and releases a transport on the calling thread (never one of its own).
    static void close_transport(transport_ptr& transport, std::uint32_t pause_ms);
    // Closes and releases the current transport, if any, on the calling thread.
    void retire_transport();
    static void closing_thread(void* job);

    // Copies of the server address and credentials, for threads other than the controlling one.
    void server_address(char (&ip)[16], int* port) const;

    // The worker (send_and_reconn.cpp).
    bool start_worker();
    static void _th_oqc_send_and_reconn(void* client);
    void run_worker();
    // The worker's last act: clears its flag and wakes whoever waits for its end.
    void finish_worker();
    bool _th_try_query_symbol_list();
    int registration_step();
    int send_whole(const char* data, int length);
    void send_heartbeat();
    void report_symbol_list();
    void handle_reconnect();
    bool reconnect();
    int relogin();
    void flush_queue();
    // Waits `ms` milliseconds by the clock; returns early, false, once m_stop is set.
    bool pause_unless_stopped(std::uint32_t ms);

    OqsTcpInfo m_server;
    OrvLoginInfo m_login;
    char m_login_user[16];
    char m_login_md5[33];
    std::atomic<OrvQuoteEventSink*> m_sink{nullptr};
    KESTRO::TOOLS::critical_lock m_queue_lock;
    KESTRO::TOOLS::critical_lock m_symbol_lock;
    mutable KESTRO::TOOLS::critical_lock m_info_lock;
    mutable KESTRO::TOOLS::critical_lock m_transport_lock;
    std::atomic<bool> m_log_idle{true};
    std::atomic<std::int32_t> m_status{STATUS_DISCONNECTED};
    symbol_map m_registered{111};
    symbol_map m_wanted{111};
    transport_ptr m_transport;
    std::atomic<bool> m_thread_is_running{false};
    std::atomic<bool> m_stop{false};
    std::deque<std::unique_ptr<oqc_data_and_event>> m_send_queue;
    std::atomic<std::int32_t> m_relogin_result{0};
    std::atomic<bool> m_symbol_list_done{false};
    code_map m_valid_symbols{111};

    // Wakes the worker's waits (stop, login answer, end of the symbol list, lost connection)
    // and those for the worker's end. Notified after every change of those flags.
    KESTRO::TOOLS::wake_signal m_wake;
    // The current connection was lost while a worker ran; cleared before each new connect.
    std::atomic<bool> m_link_lost{false};
    // The application has been told of a connection (OnServerConnected) and not yet of its end.
    std::atomic<bool> m_app_connected{false};
    std::atomic<connection_observer*> m_observer{nullptr};
    // The observer has heard of a loss and not yet of its restoration; cleared by a new session.
    std::atomic<bool> m_loss_told{false};

    // Lifetime bookkeeping: the worker's joinable handle (touched only by the thread that
    // starts a worker while none runs, and by the destructor), the worker's entry (tests stand
    // in their own), and the closing threads that may still report a local disconnection,
    // counted in a block they share with the client so that their last act can wake it.
    struct closer_count {
        std::atomic<int> running{0};
        KESTRO::TOOLS::wake_signal ended;
    };
    struct closing_job;
    platform::thread_handle m_worker;
    platform::thread_proc m_worker_entry = &Coqc_tcp::_th_oqc_send_and_reconn;
    std::shared_ptr<closer_count> m_closers = std::make_shared<closer_count>();
};
