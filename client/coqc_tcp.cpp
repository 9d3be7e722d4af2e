#include "client/coqc_tcp.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "net/socket_cache_client.h"
#include "client/receive_path.h"
#include "protocol/symbol_names.h"
#include "protocol/wire.h"
#include "tools/md5.h"

using KESTRO::TOOLS::copy_str;
using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;
using KESTRO::TOOLS::wake_signal;

namespace {

constexpr unsigned int receive_stream_capacity = 8192;
constexpr int log_line_size = 1024;
constexpr auto disconnect_wait = std::chrono::seconds(10);
constexpr auto forever = std::chrono::hours(24 * 365);

}  // namespace

// What a closing thread needs: the transport it now owns, and the count of closing threads,
// which it lowers as its very last act that concerns the client.
struct Coqc_tcp::closing_job {
    transport_ptr transport;
    std::shared_ptr<closer_count> closers;
};

Coqc_tcp::Coqc_tcp() : m_login_user(), m_login_md5() {}

Coqc_tcp::~Coqc_tcp() {
    Disconnect();
    // A worker that outlived Disconnect's ten seconds still uses the members: wait for it (a
    // late login answer may also have started one), and for closing threads, which report
    // their local disconnection to this client.
    request_stop();
    m_wake.wait_for(forever, [&] { return !m_thread_is_running.load(); });
    closer_count& closers = *m_closers;
    closers.ended.wait_for(forever, [&] { return closers.running.load() == 0; });
    platform::thread_join(m_worker);
    transport_ptr last = take_transport();
    close_transport(last, 0);
}

void Coqc_tcp::Log(int level, const char* format, ...) {
    OrvQuoteEventSink* target = sink();
    if (target == nullptr) return;
    char line[log_line_size];
    va_list args;
    va_start(args, format);
    KESTRO::TOOLS::vformat_str(line, sizeof line, format, args);
    va_end(args);
    // A server byte of 0 printed with %c ends the text early: the length is the text's.
    target->OnLogText(level, line, static_cast<int>(std::strlen(line)));
}

// ---- OrvQuoteApi ------------------------------------------------------------------------

bool Coqc_tcp::can_connect() const {
    return m_status.load() == STATUS_DISCONNECTED && !m_thread_is_running.load();
}

bool Coqc_tcp::can_log_in() const {
    return m_status.load() == STATUS_CONNECTED && !m_thread_is_running.load();
}

bool Coqc_tcp::ConnServer(const OqsTcpInfo& server, OrvQuoteEventSink* event_sink) {
    if (!can_connect()) {
        Log(1, "[QuoteClient] cannot connserver while already logon.");
        return true;
    }
    ClearRegistrations();
    {
        locker<critical_lock> guard(m_info_lock);
        m_server = server;
        // The application's texts may fill their fields: keep ours terminated.
        m_server.ServerIp[sizeof m_server.ServerIp - 1] = '\0';
    }
    m_sink.store(event_sink);
    if (event_sink == nullptr) {
        Log(3, "[QuoteClient] invalid params.");
        return false;
    }
    return ConnectTransport();
}

bool Coqc_tcp::ConnServer(const std::vector<OqsTcpInfo>& servers, OrvQuoteEventSink* event_sink) {
    if (!can_connect()) {
        Log(1, "[QuoteClient] cannot connserver while already logon.");
        return true;
    }
    if (servers.empty() || event_sink == nullptr) {
        Log(3, "[QuoteClient] invalid params.");
        return false;
    }
    return ConnServer(servers.front(), event_sink);
}

bool Coqc_tcp::ConnMulticast(const std::vector<OqsMulticastInfo>&, OrvQuoteEventSink*) {
    return false;
}

void Coqc_tcp::LoginToOqs(const OrvLoginInfo& login) {
    if (!can_log_in()) {
        Log(3, "[QuoteClient] login_to_oqs failed. wrong oqc tcp status: %d.", m_status.load());
        return;
    }
    StoreLoginInfo(login);
    SendLoginRequest();  // a failed send is logged there and produces no event
}

void Coqc_tcp::QuerySymbolList() {
    oqs_query_symbol_req request;
    build_query_symbol_req(request);
    enqueue(std::make_unique<oqc_data_and_event>(oqc_data_and_event::KIND_DATA,
                                                 reinterpret_cast<const char*>(&request),
                                                 static_cast<std::int32_t>(sizeof request)));
}

void Coqc_tcp::RegisterSymbol(char exchange_code, const char* symbol) {
    change_wanted(exchange_code, symbol, true);
}

void Coqc_tcp::UnregisterSymbol(char exchange_code, const char* symbol) {
    change_wanted(exchange_code, symbol, false);
}

void Coqc_tcp::Disconnect() {
    if (!m_stop.load()) {
        std::fputs("[QuoteClient]oqs local disconnected\n", stdout);
        std::fflush(stdout);
    }
    request_stop();
    const auto deadline = wake_signal::clock::now() + disconnect_wait;
    while (m_wake.wait_until(deadline, [&] { return !m_thread_is_running.load(); })) {
        m_status.store(STATUS_DISCONNECTED);
        transport_ptr current = take_transport();
        close_transport(current, 0);
        // Closing stopped the receive thread, but a login answer it was handling may have
        // started a worker meanwhile (which clears the stop flag): that one is stopped too.
        if (!m_thread_is_running.load()) return;
        request_stop();
    }
    Log(3, "[QuoteClient]stop thread timeout");
}

void Coqc_tcp::request_stop() {
    m_stop.store(true);
    m_wake.notify();
}

// ---- internal operations ----------------------------------------------------------------

void Coqc_tcp::ClearRegistrations() {
    locker<critical_lock> guard(m_symbol_lock);
    m_registered.clear();
    m_wanted.clear();
}

void Coqc_tcp::change_wanted(char exchange_code, const char* symbol, bool want) {
    const char* text = symbol != nullptr ? symbol : "";
    if (const char* code = name_to_code(text)) text = code;
    const oqs_symbol_info info(exchange_code, text);  // cut to 19 characters
    locker<critical_lock> guard(m_symbol_lock);
    if (!m_valid_symbols.contains(info.Symbol)) return;
    if (want) {
        m_wanted.insert(info.Symbol, info);
    } else {
        m_wanted.erase(info.Symbol);
    }
}

void Coqc_tcp::enqueue(std::unique_ptr<oqc_data_and_event> item) {
    locker<critical_lock> guard(m_queue_lock);
    m_send_queue.push_back(std::move(item));
}

void Coqc_tcp::drop_reconnect_requests() {
    locker<critical_lock> guard(m_queue_lock);
    for (auto it = m_send_queue.begin(); it != m_send_queue.end();) {
        it = (*it)->kind == oqc_data_and_event::KIND_RECONNECT ? m_send_queue.erase(it) : it + 1;
    }
}

void Coqc_tcp::report_end() {
    m_app_connected.store(false);
    if (OrvQuoteEventSink* target = sink()) target->OnServerDisconnected();
}

void Coqc_tcp::tell_connection_lost() {
    if (m_loss_told.exchange(true)) return;
    if (connection_observer* observer = m_observer.load()) observer->on_connection_lost();
}

void Coqc_tcp::tell_connection_restored() {
    if (!m_loss_told.exchange(false)) return;
    if (connection_observer* observer = m_observer.load()) observer->on_connection_restored();
}

void Coqc_tcp::report_unreported_end() {
    if (!m_app_connected.exchange(false)) return;
    if (OrvQuoteEventSink* target = sink()) target->OnServerDisconnected();
}

void Coqc_tcp::server_address(char (&ip)[16], int* port) const {
    locker<critical_lock> guard(m_info_lock);
    std::memcpy(ip, m_server.ServerIp, sizeof ip);
    *port = m_server.ServerPort;
}

Coqc_tcp::transport_ptr Coqc_tcp::make_connected_transport(bool* connected) {
    char ip[16];
    int port = 0;
    server_address(ip, &port);
    transport_ptr fresh;
    try {
        fresh = std::make_shared<socket_cache_client>(receive_stream_capacity);
    } catch (const std::bad_alloc&) {
        *connected = false;
        return fresh;
    }
    set_transport(fresh);
    // Any earlier transport is closed by now, so a loss reported from here on is this one's.
    m_link_lost.store(false);
    *connected = fresh->connect(ip, static_cast<unsigned short>(port),
                                &receive_path::on_cache_callback, this);
    return fresh;
}

bool Coqc_tcp::ConnectTransport() {
    transport_ptr old = take_transport();
    close_transport(old, 0);
    drop_reconnect_requests();
    m_loss_told.store(false);
    bool connected = false;
    transport_ptr fresh = make_connected_transport(&connected);
    if (!connected) {
        char ip[16];
        int port = 0;
        server_address(ip, &port);
        Log(3, "[QuoteClient] init connect server failed. server ip: %s, port: %d.", ip, port);
        transport_ptr failed = take_transport();
        close_transport(failed, 0);
        return false;
    }
    m_status.store(STATUS_CONNECTED);
    m_app_connected.store(true);
    if (OrvQuoteEventSink* target = sink()) target->OnServerConnected();
    return true;
}

void Coqc_tcp::StoreLoginInfo(const OrvLoginInfo& login) {
    locker<critical_lock> guard(m_info_lock);
    m_login = login;
    // Texts that fill their fields without a terminator are cut to the field: the user id
    // travels in a 16-byte field, and the digest covers at most the 33 password bytes.
    copy_str(m_login_user, sizeof m_login_user, m_login.UserId);
    std::size_t password_length = 0;
    while (password_length < sizeof m_login.Password && m_login.Password[password_length] != '\0') {
        ++password_length;
    }
    KESTRO::TOOLS::md5_hex(m_login.Password, static_cast<std::uint32_t>(password_length),
                           m_login_md5);
}

bool Coqc_tcp::SendLoginRequest() {
    oqs_login_req request;
    {
        locker<critical_lock> guard(m_info_lock);
        build_login_req(request, m_login_user, m_login_md5);
    }
    if (transport_send(reinterpret_cast<const char*>(&request), LOGIN_REQ_LEN) !=
        static_cast<int>(LOGIN_REQ_LEN)) {
        Log(3, "[QuoteClient] send login msg failed.");
        return false;
    }
    return true;
}

void Coqc_tcp::DropTransport() {
    m_status.store(STATUS_DISCONNECTED);
    transport_ptr current = take_transport();
    if (!current) return;
    // We are on one of the transport's own threads, which its close() would have to stop:
    // a short-lived thread closes it instead.
    auto* job = new closing_job{std::move(current), m_closers};
    m_closers->running.fetch_add(1);
    if (!platform::thread_start(&Coqc_tcp::closing_thread, job, nullptr, nullptr)) {
        Log(3, "[QuoteClient] cannot start the closing thread; the connection is closed later.");
        // Keep it: the destructor or the next connection closes it from a safe thread.
        m_closers->running.fetch_sub(1);
        set_transport(std::move(job->transport));
        delete job;
    }
}

void Coqc_tcp::closing_thread(void* raw) {
    std::unique_ptr<closing_job> job(static_cast<closing_job*>(raw));
    close_transport(job->transport, 10);
    // From here on the client may be destroyed; the count lives on with this thread's share.
    const std::shared_ptr<closer_count> closers = std::move(job->closers);
    job.reset();
    closers->running.fetch_sub(1);
    closers->ended.notify();
}

void Coqc_tcp::close_transport(transport_ptr& transport, std::uint32_t pause_ms) {
    if (!transport) return;
    if (pause_ms > 0) KESTRO::TOOLS::sleep_ms(pause_ms);
    transport->close();
    transport.reset();
}

void Coqc_tcp::retire_transport() {
    if (transport_ptr current = take_transport()) {
        current->close();
        KESTRO::TOOLS::sleep_ms(10);
    }
}

void Coqc_tcp::Reset() {
    retire_transport();
    m_status.store(STATUS_DISCONNECTED);
    {
        locker<critical_lock> guard(m_info_lock);
        std::memset(m_server.Reserved, 0, sizeof m_server.Reserved);
        std::memset(m_server.ServerIp, 0, sizeof m_server.ServerIp);
        m_server.ServerPort = 0;
        std::memset(static_cast<void*>(&m_login), 0, sizeof m_login);
        std::memset(m_login_user, 0, sizeof m_login_user);
        std::memset(m_login_md5, 0, sizeof m_login_md5);
    }
    ClearRegistrations();
}

// ---- transport pointer ------------------------------------------------------------------

Coqc_tcp::transport_ptr Coqc_tcp::transport() const {
    locker<critical_lock> guard(m_transport_lock);
    return m_transport;
}

Coqc_tcp::transport_ptr Coqc_tcp::take_transport() {
    locker<critical_lock> guard(m_transport_lock);
    transport_ptr taken;
    taken.swap(m_transport);
    return taken;
}

void Coqc_tcp::set_transport(transport_ptr transport) {
    transport_ptr previous;
    {
        locker<critical_lock> guard(m_transport_lock);
        previous.swap(m_transport);
        m_transport = std::move(transport);
    }
    close_transport(previous, 0);
}

int Coqc_tcp::transport_send(const char* data, int length) {
    transport_ptr current = transport();
    return current ? current->send(data, length) : -1;
}
