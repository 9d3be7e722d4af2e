/* Public. The quote client's C interface: the same client as OrvQuoteApi, reached through plain C
 * types so that any compiler (Microsoft's, clang with libc++, a C compiler) and any language
 * that calls C (C#, Python, ...) can use the shipped library. No C++ type, exception or errno
 * crosses it; nothing it hands out needs freeing by the caller.
 *
 * Rules that hold for every function:
 * - A status is an int: ORVQ_OK (0) or a negative ORVQ_ERR_* code; orvq_status_text names it.
 * - Structs that cross in either direction start with their own size, set by whoever fills the
 *   rest from sizeof as its header knows it. Fields are only ever appended, so an application
 *   built against an older header keeps working with a newer library.
 * - Texts are NUL-terminated and valid only during the call that hands them over.
 *
 * Two ways to receive:
 * - Callbacks: give orvq_create a table with on_quote set. Quotes and every event with an entry
 *   arrive on the library's threads, exactly as through OrvQuoteEventSink (the README names the
 *   thread of each); an event whose entry is null is not delivered.
 * - Pull mode: give no table, or one without on_quote. Quotes wait in a bounded queue and the
 *   application takes them in batches with orvq_poll_quotes; events without an entry wait in a
 *   second queue for orvq_next_event. No application code runs on a library thread, unless it
 *   set an entry of the table for that event.
 *
 * Threads: orvq_connect, orvq_login, orvq_disconnect and orvq_destroy belong to one controlling
 * thread, one call at a time; every other function is safe from any thread. */
#ifndef ORV_QUOTE_C_H
#define ORV_QUOTE_C_H

#include <stddef.h>
#include <stdint.h>

/* Marks what the library exports; empty for an application, as in orv_quote_api.h. */
#ifndef ORVQUOTE_API
#define ORVQUOTE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The interface's number: it only ever grows, with each addition to this header. A binding
 * compares it with orvq_abi_version() when it loads. */
#define ORVQ_ABI_VERSION 2 /* 2: orvq_stats.session_ended */

/* Bytes in one quote record. */
#define ORVQ_QUOTE_SIZE 345

/* Status codes. */
#define ORVQ_OK 0
#define ORVQ_ERR_ARGUMENT (-1)    /* a null pointer, a text too long, a value out of range */
#define ORVQ_ERR_STATE (-2)       /* not allowed in the client's current state */
#define ORVQ_ERR_CONNECT (-3)     /* the server could not be reached */
#define ORVQ_ERR_IN_CALLBACK (-4) /* orvq_disconnect or orvq_destroy from inside a callback */
#define ORVQ_ERR_NOT_PULL (-5)    /* a poll on a client that delivers quotes by callback */
#define ORVQ_ERR_CLOSED (-6)      /* the client is being destroyed */
#define ORVQ_ERR_NO_MEMORY (-7)   /* the library could not allocate what the call needs */
#define ORVQ_ERR_INTERNAL (-8)    /* an unexpected failure inside the library */

/* One depth level: a value and its count, 12 bytes. */
#pragma pack(push, 1)
typedef struct orvq_depth_level {
    double Value;
    int32_t Count;
} orvq_depth_level;

/* One market-depth quote, 345 bytes with no padding, byte for byte the C++ interface's
 * OrvMarketDepthQuoteData: little-endian numbers, IEEE-754 doubles, texts terminated within
 * their width. docs/quote-fields.md says what each field means. */
typedef struct orvq_quote {
    char TradingDay[9];      /* offset 0: yyyymmdd */
    char Symbol[31];         /* 9: the display name where the library has one */
    char ExchangeName[9];    /* 40 */
    char ExchangeSymbol[31]; /* 49 */
    double MarketValue1;     /* 80 */
    double MarketValue2;
    double MarketValue3;
    double MarketValue4;
    double MarketValue5;
    double MarketValue6;
    double MarketValue7;  /* 128 */
    int32_t MarketCount1; /* 136 */
    double MarketValue8;  /* 140 */
    double MarketValue9;
    double MarketValue10;
    double MarketValue11;
    double MarketValue12;
    double MarketValue13;
    double MarketValue14;
    double MarketValue15;             /* 196 */
    char TimeText[9];                 /* 204 */
    int32_t TimeValue;                /* 213 */
    orvq_depth_level DepthLevels[10]; /* 217 */
    double MarketValue16;             /* 337 */
} orvq_quote;
#pragma pack(pop)

/* A compiler that packs differently fails here rather than misreading quotes. */
typedef char orvq_quote_size_check[sizeof(orvq_quote) == ORVQ_QUOTE_SIZE ? 1 : -1];

/* The client, opaque. */
typedef struct orvq_client orvq_client;

/* The callbacks, each optional. Every call gets the `user` pointer given to orvq_create. The
 * events and their arguments are OrvQuoteEventSink's, plus the two connection events, which
 * the C++ interface only shows as log lines. A callback must return promptly, and must not call
 * orvq_disconnect or orvq_destroy (they return ORVQ_ERR_IN_CALLBACK there). */
typedef struct orvq_callbacks {
    uint32_t size; /* sizeof(orvq_callbacks) */
    /* orvq_connect has connected; on the caller's thread, inside orvq_connect. */
    void (*on_connected)(void* user);
    /* A live connection has ended (see OnServerDisconnected). */
    void (*on_disconnected)(void* user);
    /* The outcome of orvq_login: success 1 with "", or 0 with the reason. */
    void (*on_login_reply)(void* user, int success, const char* text);
    /* One quote; the record is valid during the call only. Receive thread. */
    void (*on_quote)(void* user, int exchange_code, const orvq_quote* quote);
    /* One log line of `length` characters; level 0 progress, 1 notices, 3 errors. */
    void (*on_log)(void* user, int level, const char* text, int length);
    void (*on_register_reply)(void* user, int exchange_code, const char* symbol, int success);
    void (*on_unregister_reply)(void* user, int exchange_code, const char* symbol, int success);
    /* After orvq_query_symbols: once per symbol with last 0, then ('0', "", 1). */
    void (*on_symbol)(void* user, int exchange_code, const char* symbol, int last);
    /* A logged-in connection was lost; the library reconnects by itself. */
    void (*on_connection_lost)(void* user);
    /* After a loss: connected and logged in again, registrations being restored. */
    void (*on_connection_restored)(void* user);
} orvq_callbacks;

/* Event kinds, as taken by orvq_next_event in pull mode. */
#define ORVQ_EVENT_CONNECTED 1
#define ORVQ_EVENT_DISCONNECTED 2
#define ORVQ_EVENT_LOGIN_REPLY 3      /* value: success; text: the reason when refused */
#define ORVQ_EVENT_LOG 4              /* value: level; text: the line */
#define ORVQ_EVENT_REGISTER_REPLY 5   /* exchange_code, text: symbol; value: success */
#define ORVQ_EVENT_UNREGISTER_REPLY 6 /* exchange_code, text: symbol; value: success */
#define ORVQ_EVENT_SYMBOL 7           /* exchange_code, text: symbol; value: 1 on the last */
#define ORVQ_EVENT_CONNECTION_LOST 8
#define ORVQ_EVENT_CONNECTION_RESTORED 9

/* One event. The caller sets size; the library fills the fields that size covers. */
typedef struct orvq_event {
    uint32_t size; /* sizeof(orvq_event) */
    int32_t kind;  /* ORVQ_EVENT_* */
    int32_t exchange_code;
    int32_t value;
    int64_t time_ns; /* when the library queued it, nanoseconds since 1970 UTC */
    int32_t length;  /* characters in text */
    char text[1024]; /* NUL-terminated */
} orvq_event;

/* Counters of one client since orvq_create. The caller sets size. */
typedef struct orvq_stats {
    uint32_t size; /* sizeof(orvq_stats) */
    /* 1 once the session is over: DISCONNECTED was reported (a refused login, a connection
     * that closed before the login, the reconnects given up, or orvq_disconnect), and the
     * library will not reconnect by itself; 0 again when orvq_connect connects. Libraries of
     * ABI 1 leave it 0. */
    uint32_t session_ended;
    uint64_t quotes_received; /* quotes the library received, in either mode */
    uint64_t quotes_dropped;  /* pull mode: quotes that found the queue full */
    uint64_t reconnects;      /* connections restored after a loss */
    uint64_t queue_depth;     /* pull mode: quotes waiting to be polled now */
    uint64_t events_dropped;  /* pull mode: events that found the event queue full */
} orvq_stats;

/* The library's version text ("1.2.0"), its ORVQ_ABI_VERSION and ORVQ_QUOTE_SIZE. */
ORVQUOTE_API const char* orvq_version(void);
ORVQUOTE_API int orvq_abi_version(void);
ORVQUOTE_API int orvq_quote_size(void);

/* A short English text for a status code; never null. */
ORVQUOTE_API const char* orvq_status_text(int status);

/* A new, disconnected client in *client. `callbacks` may be null (pull mode); the table is
 * copied. `queue_capacity` is the pull mode's quote queue in records, 0 for the default
 * (65536), at most 4194304; the queue is allocated here, once. */
ORVQUOTE_API int orvq_create(const orvq_callbacks* callbacks, void* user, int32_t queue_capacity,
                             orvq_client** client);

/* Disconnects and frees the client; null is ignored. A poll blocked in another thread returns
 * ORVQ_ERR_CLOSED first, and no callback runs after it returns. From inside a callback it
 * returns ORVQ_ERR_IN_CALLBACK and leaves the client alone. */
ORVQUOTE_API int orvq_destroy(orvq_client* client);

/* Connects to a server given as dotted IPv4 text and port; on_connected runs (or
 * ORVQ_EVENT_CONNECTED is queued) before it returns. ORVQ_ERR_STATE while connected. */
ORVQUOTE_API int orvq_connect(orvq_client* client, const char* host, int port);

/* Sends the login (user at most 15 characters, password at most 32); the outcome comes as
 * on_login_reply / ORVQ_EVENT_LOGIN_REPLY. ORVQ_ERR_STATE unless connected and not logged in. */
ORVQUOTE_API int orvq_login(orvq_client* client, const char* user, const char* password);

/* Ask for (or drop) the quotes of a symbol from the server's list, by its display name; the
 * answer comes as a register or unregister reply. A symbol the server does not list is ignored,
 * as by the C++ interface. */
ORVQUOTE_API int orvq_register(orvq_client* client, char exchange_code, const char* symbol);
ORVQUOTE_API int orvq_unregister(orvq_client* client, char exchange_code, const char* symbol);

/* Asks for the symbol list; it comes as symbol events once logged in. */
ORVQUOTE_API int orvq_query_symbols(orvq_client* client);

/* Stops the worker and closes the connection; the client may connect again afterwards. */
ORVQUOTE_API int orvq_disconnect(orvq_client* client);

/* Pull mode: moves up to `max` quotes, oldest first, into `quotes`, and, where the arrays are
 * not null, their exchange codes and receive times (nanoseconds since 1970 UTC). Waits up to
 * `timeout_ms` (0: not at all, negative: without end) for the first quote and returns at once
 * when one arrives. Returns the number taken (0 on time-out) or a negative status. When the
 * queue is full, an arriving quote is dropped and counted (orvq_stats.quotes_dropped): what is
 * queued stays a gapless run of what the server sent. */
ORVQUOTE_API int orvq_poll_quotes(orvq_client* client, orvq_quote* quotes, char* exchange_codes,
                                  int64_t* receive_ns, int max, int timeout_ms);

/* Pull mode: takes the oldest queued event into *event (whose size the caller set), waiting up
 * to `timeout_ms` like orvq_poll_quotes. Returns 1 when an event was taken, 0 on time-out, or a
 * negative status. The event queue holds 16384 events; when it is full the newest is dropped
 * and counted (orvq_stats.events_dropped). */
ORVQUOTE_API int orvq_next_event(orvq_client* client, orvq_event* event, int timeout_ms);

/* Fills *stats (whose size the caller set). */
ORVQUOTE_API int orvq_get_stats(orvq_client* client, orvq_stats* stats);

#ifdef __cplusplus
}
#endif

#endif /* ORV_QUOTE_C_H */
