#include "client/receive_path.h"

#include <cstring>

#include "client/coqc_tcp.h"
#include "net/socket_event.h"
#include "protocol/stream_cutter.h"
#include "protocol/symbol_names.h"
#include "protocol/wire.h"

using KESTRO::TOOLS::critical_lock;
using KESTRO::TOOLS::locker;

namespace {

// The exchange code travels as a char and reaches the application sign-extended.
int exchange_of(char code) {
    return static_cast<int>(static_cast<signed char>(code));
}

const char* display_name(const char* symbol) {
    const char* name = code_to_name(symbol);
    return name != nullptr ? name : symbol;
}

}  // namespace

int receive_path::on_cache_callback(socket_event* event, void* user) {
    auto* client = static_cast<Coqc_tcp*>(user);
    if (event == nullptr || client == nullptr) return 0;
    switch (event->type()) {
        case EVENT_CONNECT:
            client->Log(0, "[on_cache_callback] EVENT_CONNECT");
            break;
        case EVENT_LOCALE_DISCONNECT:
            client->Log(0, "[on_cache_callback] EVENT_LOCALE_DISCONNECT");
            client->report_end();
            break;
        case EVENT_REMOTE_DISCONNECT:
        case EVENT_ERROR:
            on_connection_lost(client);
            break;
        case EVENT_RECV: {
            // The receive stream is the transport's own writable buffer; quotes are
            // translated in place there.
            auto* bytes = const_cast<char*>(event->data());
            event->set_processed(
                static_cast<std::int32_t>(on_received(client, bytes, event->length())));
            break;
        }
        default:
            break;
    }
    return 0;
}

void receive_path::on_connection_lost(Coqc_tcp* client) {
    const bool worker = client->m_thread_is_running.load();
    client->Log(0, "[on_cache_callback] EVENT_REMOTE_DISCONNECT,thd_is_run:%d", worker ? 1 : 0);
    if (worker) {
        // Not reported: the worker reconnects, and reports the end only if it gives up.
        client->enqueue(
            std::make_unique<oqc_data_and_event>(oqc_data_and_event::KIND_RECONNECT, nullptr, 0));
        client->m_link_lost.store(true);
        client->m_wake.notify();
        // A logged-in session lives on through the reconnect: the C interface says so.
        if (client->m_status.load() == Coqc_tcp::STATUS_LOGGED_IN) client->tell_connection_lost();
        return;
    }
    client->DropTransport();
    client->report_end();
}

std::uint32_t receive_path::on_received(Coqc_tcp* client, char* bytes, std::uint32_t length) {
    std::uint32_t position = 0;
    while (position < length) {
        const std::uint32_t used = dispatch_msg(client, bytes + position, length - position);
        if (used == 0) break;  // the rest is an incomplete message
        position += used;
    }
    if (connection_observer* observer = client->m_observer.load()) observer->on_received_end();
    return position;
}

std::uint32_t receive_path::dispatch_msg(Coqc_tcp* client, char* bytes, std::uint32_t length) {
    const message_cut cut = cut_message(bytes, length, message_source::server);
    if (cut.length == 0 && length > 0) {
        // Without a length field there is no way to find the next message: drop it all.
        client->Log(3, "[QuoteClient] receive unknown msg type: %d. length is %d",
                    exchange_of(bytes[0]), static_cast<int>(length));
        return length;
    }
    if (!cut.whole) return 0;
    switch (bytes[0]) {
        case 'A':
            on_login_resp(client, bytes);
            break;
        case 'F':
            on_unreg_symbol_resp(client, bytes);
            break;
        case 'I':
            on_reg_symbol_resp(client, bytes);
            break;
        case 'M':
            on_symbol_resp(client, bytes);
            break;
        case 'Q':
            on_quote(client, bytes);
            break;
        default:  // 'H': nothing to do
            break;
    }
    return cut.length;
}

void receive_path::on_login_resp(Coqc_tcp* client, const char* bytes) {
    const login_resp_fields response = read_login_resp(bytes);
    char ip[16];
    int port = 0;
    client->server_address(ip, &port);
    const bool worker = client->m_thread_is_running.load();
    client->Log(0,
                "[QuoteClient] on_login_resp,thread_is_running:%d, result: %c,  server ip: %s, "
                "port: %d.",
                worker ? 1 : 0, response.result, ip, port);
    if (worker) {
        // While the worker runs every login answer belongs to its relogin.
        if (response.result == 'Y') {
            client->m_relogin_result.store(1);
            client->Log(0, "[QuoteClient] relogin success, server ip: %s, port: %d.", ip, port);
        } else {
            client->m_relogin_result.store(-1);
            client->Log(0, "[QuoteClient] relogin failed, server ip: %s, port: %d.", ip, port);
        }
        client->m_wake.notify();
        return;
    }
    if (response.result == 'Y') {
        if (!client->start_worker()) {
            client->Log(3, "[QuoteClient] cannot start the worker thread.");
            client->DropTransport();
            if (OrvQuoteEventSink* sink = client->sink()) {
                sink->OnLoginReply(false, "query symbol error");
            }
            client->report_end();
        }
        return;
    }
    client->DropTransport();
    client->Log(3, "[QuoteClient] login failed, result: %c,  server ip: %s, port: %d.",
                response.result, ip, port);
    if (OrvQuoteEventSink* sink = client->sink()) sink->OnLoginReply(false, response.text);
    KESTRO::TOOLS::sleep_ms(5);
    client->report_end();
}

void receive_path::on_symbol_resp(Coqc_tcp* client, const char* bytes) {
    const symbol_resp_fields entry = read_symbol_resp(bytes);
    if (entry.end) {
        client->m_symbol_list_done.store(true);
        client->m_wake.notify();
        return;
    }
    locker<critical_lock> guard(client->m_symbol_lock);
    client->m_valid_symbols.insert(entry.symbol, exchange_of(entry.exchange_code));
}

void receive_path::on_reg_symbol_resp(Coqc_tcp* client, const char* bytes) {
    const symbol_reply_fields reply = read_symbol_reply(bytes);
    const oqs_symbol_info info(reply.exchange_code, reply.symbol);
    const bool success = reply.result == '0' || reply.result == '2';
    if (success) {
        locker<critical_lock> guard(client->m_symbol_lock);
        client->m_registered.insert(info.Symbol, info);
    } else {
        char text[256];
        KESTRO::TOOLS::format_str(text, sizeof text, "%c:%s", info.ExchangeCode, info.Symbol);
        client->Log(3, "[QuoteClient] register symbol:%s failed.", text);
    }
    if (OrvQuoteEventSink* sink = client->sink()) {
        sink->OnRegisterReply(exchange_of(reply.exchange_code), display_name(reply.symbol),
                              success);
    }
}

void receive_path::on_unreg_symbol_resp(Coqc_tcp* client, const char* bytes) {
    const symbol_reply_fields reply = read_symbol_reply(bytes);
    const bool success = reply.result == '0';
    if (success) {
        // Registered keys are cut to 19 characters; cut the echo the same way.
        const oqs_symbol_info info(reply.exchange_code, reply.symbol);
        locker<critical_lock> guard(client->m_symbol_lock);
        client->m_registered.erase(info.Symbol);
    } else {
        client->Log(3, "[QuoteClient] unregister symbol:%s failed.", reply.symbol);
    }
    if (OrvQuoteEventSink* sink = client->sink()) {
        sink->OnUnregisterReply(exchange_of(reply.exchange_code), display_name(reply.symbol),
                                success);
    }
}

void receive_path::on_quote(Coqc_tcp* client, char* bytes) {
    auto* message = reinterpret_cast<oqs_quote_msg*>(bytes);
    char* symbol = message->quote.Symbol;
    if (const char* name = code_to_name(symbol)) {
        const std::size_t name_length = std::strlen(name);
        std::memcpy(symbol, name, name_length);
        std::memset(symbol + name_length, 0, sizeof message->quote.Symbol - name_length);
    }
    if (OrvQuoteEventSink* sink = client->sink()) {
        sink->OnQuote(exchange_of(message->exchange_code), &message->quote);
    }
}
