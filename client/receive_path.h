// Internal. The receive half of the quote client: the transport callback, the cutting of
// the received stream into messages and the handlers of the server's messages. It works
// on Coqc_tcp's members as its friend. Entered on the transport's receive thread (received
// bytes, the connection's start and loss) and on a closing thread (its local end).
#pragma once

#include <cstdint>

class Coqc_tcp;
class socket_event;

class receive_path {
public:
    // The callback handed to the transport, with the client as user pointer. Returns 0.
    static int on_cache_callback(socket_event* event, void* client);

    // Handles the one message at the front of bytes (length >= 1); returns the bytes it
    // used, or 0 when the message is not complete yet. An unknown type uses everything.
    // Quotes are delivered in place, so the bytes must be writable.
    static std::uint32_t dispatch_msg(Coqc_tcp* client, char* bytes, std::uint32_t length);

private:
    // The handlers, each given one whole message of its type.
    static void on_login_resp(Coqc_tcp* client, const char* bytes);
    static void on_symbol_resp(Coqc_tcp* client, const char* bytes);
    static void on_reg_symbol_resp(Coqc_tcp* client, const char* bytes);
    static void on_unreg_symbol_resp(Coqc_tcp* client, const char* bytes);
    static void on_quote(Coqc_tcp* client, char* bytes);

    static void on_connection_lost(Coqc_tcp* client);
    static std::uint32_t on_received(Coqc_tcp* client, char* bytes, std::uint32_t length);
};
