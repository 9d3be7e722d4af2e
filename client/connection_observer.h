// Internal. connection_observer: what the C interface learns from the client beyond the sink's
// events, for the application's connection-lost and connection-restored events. The client
// calls it outside any lock of its own: on_connection_lost on the transport's thread that saw a
// logged-in connection drop (or on the worker, for a failed send), on_connection_restored on
// the worker; on_received_end on the receive thread. Never exported; the C++ interface only
// shows the first two moments as log lines.
#pragma once

class connection_observer {
public:
    virtual ~connection_observer() = default;

    // A logged-in connection has ended and the worker takes over the reconnect. Once per loss.
    virtual void on_connection_lost() = 0;

    // After a loss: connected and logged in again, the symbol list back; the registrations go
    // out again next.
    virtual void on_connection_restored() = 0;

    // The receive thread has handed on everything one receive brought (OnQuote for each of
    // its quotes): the moment to wake whoever takes them, once per receive, not per quote.
    virtual void on_received_end() {}
};
