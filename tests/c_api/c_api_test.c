/* The C interface as a C program meets it, against the simulator: the record's layout, a whole
 * session in callback and in pull mode with the same events as through the C++ interface, a
 * lost connection, a full pull queue, teardown from callbacks and from other threads, and the
 * refusals of bad arguments.
 *   c_api_tests [CASE]      every case, or the one named */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "c_api/c_harness.h"
#include "orv_quote_c.h"

static int failures = 0;

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                                   \
        }                                                                                 \
    } while (0)
#define CHECK_EQ(actual, expected) CHECK((actual) == (expected))

/* ---- one recorder behind every callback ------------------------------------------------- */

static void rec_connected(void* user) {
    th_add((th_recorder*)user, ORVQ_EVENT_CONNECTED, 0, 0, NULL, NULL);
}
static void rec_disconnected(void* user) {
    th_add((th_recorder*)user, ORVQ_EVENT_DISCONNECTED, 0, 0, NULL, NULL);
}
static void rec_login(void* user, int success, const char* text) {
    th_add((th_recorder*)user, ORVQ_EVENT_LOGIN_REPLY, 0, success, text, NULL);
}
static void rec_quote(void* user, int exchange_code, const orvq_quote* quote) {
    th_add((th_recorder*)user, TH_QUOTE, exchange_code, 0, NULL, quote);
}
static void rec_log(void* user, int level, const char* text, int length) {
    th_add((th_recorder*)user, ORVQ_EVENT_LOG, 0, level, text, NULL);
    CHECK_EQ((size_t)length, strlen(text));
}
static void rec_register(void* user, int exchange_code, const char* symbol, int success) {
    th_add((th_recorder*)user, ORVQ_EVENT_REGISTER_REPLY, exchange_code, success, symbol, NULL);
}
static void rec_unregister(void* user, int exchange_code, const char* symbol, int success) {
    th_add((th_recorder*)user, ORVQ_EVENT_UNREGISTER_REPLY, exchange_code, success, symbol, NULL);
}
static void rec_symbol(void* user, int exchange_code, const char* symbol, int last) {
    th_add((th_recorder*)user, ORVQ_EVENT_SYMBOL, exchange_code, last, symbol, NULL);
}
static void rec_lost(void* user) {
    th_add((th_recorder*)user, ORVQ_EVENT_CONNECTION_LOST, 0, 0, NULL, NULL);
}
static void rec_restored(void* user) {
    th_add((th_recorder*)user, ORVQ_EVENT_CONNECTION_RESTORED, 0, 0, NULL, NULL);
}

static orvq_callbacks recording_table(void) {
    orvq_callbacks table;
    memset(&table, 0, sizeof table);
    table.size = sizeof table;
    table.on_connected = rec_connected;
    table.on_disconnected = rec_disconnected;
    table.on_login_reply = rec_login;
    table.on_quote = rec_quote;
    table.on_log = rec_log;
    table.on_register_reply = rec_register;
    table.on_unregister_reply = rec_unregister;
    table.on_symbol = rec_symbol;
    table.on_connection_lost = rec_lost;
    table.on_connection_restored = rec_restored;
    return table;
}

/* ---- pull mode: the test's thread takes what callbacks would have handed over ------------ */

/* Takes every queued event, and quotes while they come, into the recorder; 1 when any came. */
static int pump(orvq_client* client, th_recorder* recorder, int timeout_ms) {
    orvq_event event;
    orvq_quote quotes[16];
    char codes[16];
    int i, n, any = 0;
    event.size = sizeof event;
    while (orvq_next_event(client, &event, timeout_ms) == 1) {
        th_add(recorder, event.kind, event.exchange_code, event.value, event.text, NULL);
        CHECK_EQ((size_t)event.length, strlen(event.text));
        CHECK(event.time_ns > 0);
        timeout_ms = 0;
        any = 1;
    }
    while ((n = orvq_poll_quotes(client, quotes, codes, NULL, 16, 0)) > 0) {
        for (i = 0; i < n; ++i) th_add(recorder, TH_QUOTE, codes[i], 0, NULL, &quotes[i]);
        any = 1;
    }
    return any;
}

/* Waits, bounded, for `count` records of `kind`; a pull client (not null) is pumped meanwhile. */
static int wait_for(orvq_client* pull, th_recorder* recorder, int kind, int count) {
    const long long deadline = th_now_ms() + 15000;
    if (pull == NULL) return th_wait(recorder, kind, count, 15000);
    while (th_count(recorder, kind) < count && th_now_ms() < deadline) pump(pull, recorder, 20);
    return th_count(recorder, kind) >= count;
}

/* The n-th record (from 0) of `kind` into *out, and its index; -1 when there is none. */
static int find(th_recorder* recorder, int kind, int n, th_record* out) {
    int i;
    for (i = 0; th_get(recorder, i, out); ++i) {
        if (out->kind == kind && n-- == 0) return i;
    }
    return -1;
}

/* ---- one session, through either interface ------------------------------------------------ */

typedef struct api_calls {
    int (*create)(const orvq_callbacks*, void*, int32_t, orvq_client**);
    int (*destroy)(orvq_client*);
    int (*connect)(orvq_client*, const char*, int);
    int (*login)(orvq_client*, const char*, const char*);
    int (*register_symbol)(orvq_client*, char, const char*);
    int (*unregister_symbol)(orvq_client*, char, const char*);
    int (*query_symbols)(orvq_client*);
    int (*disconnect)(orvq_client*);
} api_calls;

static const api_calls c_calls = {orvq_create,        orvq_destroy,   orvq_connect,
                                  orvq_login,         orvq_register,  orvq_unregister,
                                  orvq_query_symbols, orvq_disconnect};
static const api_calls cxx_calls = {th_cxx_create,        th_cxx_destroy,   th_cxx_connect,
                                    th_cxx_login,         th_cxx_register,  th_cxx_unregister,
                                    th_cxx_query_symbols, th_cxx_disconnect};

/* Connect, log in, list the symbols, register (one unlisted symbol is ignored), two quotes,
 * unregister, disconnect. `pull`: no callbacks; the events are taken from the queues. */
static void run_session(const api_calls* api, int pull, th_server* server, th_recorder* rec) {
    const orvq_callbacks table = recording_table();
    orvq_client* client = NULL;
    CHECK_EQ(api->create(pull ? NULL : &table, rec, 0, &client), ORVQ_OK);
    if (client == NULL) return;
    CHECK_EQ(api->connect(client, "127.0.0.1", th_server_port(server)), ORVQ_OK);
    CHECK(wait_for(pull ? client : NULL, rec, ORVQ_EVENT_CONNECTED, 1));
    CHECK_EQ(api->login(client, "demo", "demo"), ORVQ_OK);
    CHECK(wait_for(pull ? client : NULL, rec, ORVQ_EVENT_LOGIN_REPLY, 1));
    CHECK_EQ(api->query_symbols(client), ORVQ_OK);
    CHECK(wait_for(pull ? client : NULL, rec, ORVQ_EVENT_SYMBOL, th_symbol_count() + 1));
    CHECK_EQ(api->register_symbol(client, '1', "Au(T+D)"), ORVQ_OK);
    CHECK_EQ(api->register_symbol(client, '2', "NOT-LISTED"), ORVQ_OK);
    CHECK(wait_for(pull ? client : NULL, rec, ORVQ_EVENT_REGISTER_REPLY, 1));
    CHECK(th_send_quotes(server, '1', "0", 7, 2));
    CHECK(wait_for(pull ? client : NULL, rec, TH_QUOTE, 2));
    CHECK_EQ(api->unregister_symbol(client, '1', "Au(T+D)"), ORVQ_OK);
    CHECK(wait_for(pull ? client : NULL, rec, ORVQ_EVENT_UNREGISTER_REPLY, 1));
    CHECK_EQ(api->disconnect(client), ORVQ_OK);
    if (pull) pump(client, rec, 0); /* all that the disconnection reported */
    CHECK_EQ(api->destroy(client), ORVQ_OK);
    CHECK(th_wait_no_connection(server));
}

/* The worker's registration passes log what they find and send; how many passes see a state
 * depends on timing, so these lines may come in one run and not in another. */
static int timing_line(const th_record* record) {
    static const char* const passes[] = {"[QuoteClient] nothing to reg or unreg",
                                         "[QuoteClient] valid:", "[QuoteClient] send "};
    size_t i;
    for (i = 0; i < sizeof passes / sizeof passes[0]; ++i) {
        if (strncmp(record->text, passes[i], strlen(passes[i])) == 0) return 1;
    }
    return 0;
}

/* Whether every record but the log lines is the same in both, in the same order, and each
 * distinct log line of one (but the registration passes') is a line of the other. */
static int same_events(th_recorder* a, th_recorder* b) {
    th_record x, y;
    int i = 0, j = 0, k, found;
    for (;;) {
        while (th_get(a, i, &x) && x.kind == ORVQ_EVENT_LOG) ++i;
        while (th_get(b, j, &y) && y.kind == ORVQ_EVENT_LOG) ++j;
        if (!th_get(a, i, &x) || !th_get(b, j, &y)) break;
        if (x.kind != y.kind || x.exchange_code != y.exchange_code || x.value != y.value ||
            strcmp(x.text, y.text) != 0 || memcmp(&x.quote, &y.quote, sizeof x.quote) != 0) {
            fprintf(stderr, "event %d of one, %d of the other: kind %d/%d '%s'/'%s'\n", i, j,
                    x.kind, y.kind, x.text, y.text);
            return 0;
        }
        ++i;
        ++j;
    }
    if (th_get(a, i, &x) || th_get(b, j, &y)) return 0;
    for (i = 0; th_get(a, i, &x); ++i) {
        for (found = 0, k = 0; x.kind == ORVQ_EVENT_LOG && !found && th_get(b, k, &y); ++k) {
            found = y.kind == ORVQ_EVENT_LOG && y.value == x.value && strcmp(x.text, y.text) == 0;
        }
        if (x.kind == ORVQ_EVENT_LOG && !found && !timing_line(&x)) {
            fprintf(stderr, "log line only on one side: %s\n", x.text);
            return 0;
        }
    }
    return 1;
}

static void same_events_as_the_cxx_interface(void) {
    th_server* server = th_server_start();
    th_recorder* cxx = th_recorder_new();
    th_recorder* callbacks = th_recorder_new();
    th_recorder* pull = th_recorder_new();
    orvq_quote sent;
    th_record quote;
    run_session(&cxx_calls, 0, server, cxx);
    run_session(&c_calls, 0, server, callbacks);
    run_session(&c_calls, 1, server, pull);
    /* 1 connected, 1 login, the list and its end, 1 register, 2 quotes, 1 unregister, 1 end */
    CHECK_EQ(th_count(cxx, 0) - th_count(cxx, ORVQ_EVENT_LOG), th_symbol_count() + 8);
    CHECK(same_events(cxx, callbacks) && same_events(callbacks, cxx));
    CHECK(same_events(cxx, pull) && same_events(pull, cxx));
    /* The quote is the server's record but for the display name. */
    th_make_quote("0", 7, &sent);
    memset(sent.Symbol, 0, sizeof sent.Symbol);
    strcpy(sent.Symbol, "Au(T+D)");
    CHECK(find(pull, TH_QUOTE, 0, &quote) >= 0);
    CHECK_EQ(memcmp(&quote.quote, &sent, sizeof sent), 0);
    CHECK_EQ(quote.exchange_code, '1');
    th_recorder_free(cxx);
    th_recorder_free(callbacks);
    th_recorder_free(pull);
    th_server_stop(server);
}

/* ---- the record, the version, the texts ---------------------------------------------------- */

static void layout_and_version(void) {
    static const int codes[] = {ORVQ_OK,
                                ORVQ_ERR_ARGUMENT,
                                ORVQ_ERR_STATE,
                                ORVQ_ERR_CONNECT,
                                ORVQ_ERR_IN_CALLBACK,
                                ORVQ_ERR_NOT_PULL,
                                ORVQ_ERR_CLOSED,
                                ORVQ_ERR_NO_MEMORY,
                                ORVQ_ERR_INTERNAL,
                                1};
    size_t i, j;
    CHECK_EQ(sizeof(orvq_quote), 345u);
    CHECK_EQ(sizeof(orvq_depth_level), 12u);
    CHECK_EQ(offsetof(orvq_quote, Symbol), 9u);
    CHECK_EQ(offsetof(orvq_quote, ExchangeName), 40u);
    CHECK_EQ(offsetof(orvq_quote, ExchangeSymbol), 49u);
    CHECK_EQ(offsetof(orvq_quote, MarketValue1), 80u);
    CHECK_EQ(offsetof(orvq_quote, MarketValue7), 128u);
    CHECK_EQ(offsetof(orvq_quote, MarketCount1), 136u);
    CHECK_EQ(offsetof(orvq_quote, MarketValue8), 140u);
    CHECK_EQ(offsetof(orvq_quote, MarketValue15), 196u);
    CHECK_EQ(offsetof(orvq_quote, TimeText), 204u);
    CHECK_EQ(offsetof(orvq_quote, TimeValue), 213u);
    CHECK_EQ(offsetof(orvq_quote, DepthLevels), 217u);
    CHECK_EQ(offsetof(orvq_quote, DepthLevels[1].Count), 217u + 12u + 8u);
    CHECK_EQ(offsetof(orvq_quote, MarketValue16), 337u);
    CHECK_EQ(orvq_quote_size(), ORVQ_QUOTE_SIZE);
    CHECK_EQ(orvq_abi_version(), ORVQ_ABI_VERSION);
    CHECK_EQ(strcmp(orvq_version(), ORVQ_TEST_VERSION), 0);
    for (i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
        for (j = 0; j < i; ++j)
            CHECK(strcmp(orvq_status_text(codes[i]), orvq_status_text(codes[j])));
    }
}

/* ---- pull mode's own cases ------------------------------------------------------------------ */

/* A logged-in pull client with Au(T+D) registered, or null. */
static orvq_client* pull_session(th_server* server, th_recorder* rec, int capacity) {
    orvq_client* client = NULL;
    CHECK_EQ(orvq_create(NULL, NULL, capacity, &client), ORVQ_OK);
    CHECK_EQ(orvq_connect(client, "127.0.0.1", th_server_port(server)), ORVQ_OK);
    CHECK_EQ(orvq_login(client, "demo", "demo"), ORVQ_OK);
    CHECK(wait_for(client, rec, ORVQ_EVENT_LOGIN_REPLY, 1));
    CHECK_EQ(orvq_register(client, '2', "SIMA01"), ORVQ_OK);
    CHECK(wait_for(client, rec, ORVQ_EVENT_REGISTER_REPLY, 1));
    return client;
}

static orvq_stats stats_of(orvq_client* client) {
    orvq_stats stats;
    memset(&stats, 0, sizeof stats);
    stats.size = sizeof stats;
    CHECK_EQ(orvq_get_stats(client, &stats), ORVQ_OK);
    return stats;
}

/* The loss of a logged-in connection and its restoration after the 2 s reconnect wait come
 * as events in that order, and the registration follows. */
static void lost_and_restored(void) {
    th_server* server = th_server_start();
    th_recorder* rec = th_recorder_new();
    orvq_client* client = pull_session(server, rec, 0);
    th_record event, other;
    CHECK_EQ(stats_of(client).reconnects, 0u);
    CHECK(th_drop_all(server));
    CHECK(wait_for(client, rec, ORVQ_EVENT_REGISTER_REPLY, 2));
    CHECK_EQ(th_count(rec, ORVQ_EVENT_CONNECTION_LOST), 1);
    CHECK_EQ(th_count(rec, ORVQ_EVENT_CONNECTION_RESTORED), 1);
    CHECK_EQ(th_count(rec, ORVQ_EVENT_DISCONNECTED), 0);
    CHECK(find(rec, ORVQ_EVENT_CONNECTION_LOST, 0, &other) >
          find(rec, ORVQ_EVENT_REGISTER_REPLY, 0, &other));
    CHECK(find(rec, ORVQ_EVENT_CONNECTION_RESTORED, 0, &other) >
          find(rec, ORVQ_EVENT_CONNECTION_LOST, 0, &other));
    CHECK(find(rec, ORVQ_EVENT_REGISTER_REPLY, 1, &event) >
          find(rec, ORVQ_EVENT_CONNECTION_RESTORED, 0, &other));
    CHECK_EQ(strcmp(event.text, "SIMA01"), 0);
    CHECK_EQ(stats_of(client).reconnects, 1u);
    CHECK_EQ(orvq_destroy(client), ORVQ_OK);
    th_recorder_free(rec);
    th_server_stop(server);
}

static int twenty_received(void* client) {
    return stats_of((orvq_client*)client).quotes_received >= 20;
}

/* A full queue keeps the oldest quotes and counts every one it drops. */
static void full_queue_drops_the_newest(void) {
    th_server* server = th_server_start();
    th_recorder* rec = th_recorder_new();
    orvq_client* client = pull_session(server, rec, 8);
    orvq_quote quotes[32], sent;
    char codes[32];
    int64_t times[32];
    orvq_stats stats;
    int i;
    CHECK(th_send_quotes(server, '2', "SIMA01", 100, 20));
    CHECK(th_wait_until(twenty_received, client, 15000));
    stats = stats_of(client);
    CHECK_EQ(stats.quotes_received, 20u);
    CHECK_EQ(stats.quotes_dropped, 12u);
    CHECK_EQ(stats.queue_depth, 8u);
    CHECK_EQ(orvq_poll_quotes(client, quotes, codes, times, 32, 0), 8);
    for (i = 0; i < 8; ++i) {
        th_make_quote("SIMA01", 100 + i, &sent);
        CHECK_EQ(memcmp(&quotes[i], &sent, sizeof sent), 0);
        CHECK_EQ(codes[i], '2');
        CHECK(times[i] > 0 && (i == 0 || times[i] >= times[i - 1]));
    }
    CHECK_EQ(stats_of(client).queue_depth, 0u);
    /* Room again: the next quote is queued and wakes a waiting poll. */
    CHECK(th_send_quotes(server, '2', "SIMA01", 120, 1));
    CHECK_EQ(orvq_poll_quotes(client, quotes, NULL, NULL, 32, 10000), 1);
    th_make_quote("SIMA01", 120, &sent);
    CHECK_EQ(memcmp(&quotes[0], &sent, sizeof sent), 0);
    CHECK_EQ(stats_of(client).quotes_dropped, 12u);
    CHECK_EQ(orvq_destroy(client), ORVQ_OK);
    th_recorder_free(rec);
    th_server_stop(server);
}

/* ---- teardown ------------------------------------------------------------------------------ */

/* The client whose callbacks try to tear it down; its callbacks' user is the recorder. */
static orvq_client* teardown_client = NULL;

/* Tries both teardowns from inside a callback; records their statuses with the event. */
static void teardown_on_connected(void* user) {
    th_add((th_recorder*)user, ORVQ_EVENT_CONNECTED, orvq_disconnect(teardown_client),
           orvq_destroy(teardown_client), NULL, NULL);
}
static void teardown_on_login(void* user, int success, const char* text) {
    (void)success;
    (void)text;
    th_add((th_recorder*)user, ORVQ_EVENT_LOGIN_REPLY, orvq_disconnect(teardown_client),
           orvq_destroy(teardown_client), NULL, NULL);
}

static void teardown_inside_a_callback_is_refused(void) {
    th_server* server = th_server_start();
    th_recorder* rec = th_recorder_new();
    orvq_callbacks table;
    th_record record;
    memset(&table, 0, sizeof table);
    table.size = sizeof table;
    table.on_connected = teardown_on_connected; /* the caller's thread */
    table.on_login_reply = teardown_on_login;   /* the worker */
    table.on_quote = rec_quote;
    table.on_register_reply = rec_register;
    CHECK_EQ(orvq_create(&table, rec, 0, &teardown_client), ORVQ_OK);
    CHECK_EQ(orvq_connect(teardown_client, "127.0.0.1", th_server_port(server)), ORVQ_OK);
    CHECK_EQ(orvq_login(teardown_client, "demo", "demo"), ORVQ_OK);
    CHECK(th_wait(rec, ORVQ_EVENT_LOGIN_REPLY, 1, 15000));
    CHECK(find(rec, ORVQ_EVENT_CONNECTED, 0, &record) >= 0);
    CHECK(record.exchange_code == ORVQ_ERR_IN_CALLBACK && record.value == ORVQ_ERR_IN_CALLBACK);
    CHECK(find(rec, ORVQ_EVENT_LOGIN_REPLY, 0, &record) >= 0);
    CHECK(record.exchange_code == ORVQ_ERR_IN_CALLBACK && record.value == ORVQ_ERR_IN_CALLBACK);
    /* The client lives on: quotes still come. */
    CHECK_EQ(orvq_register(teardown_client, '2', "SIMA01"), ORVQ_OK);
    CHECK(th_wait(rec, ORVQ_EVENT_REGISTER_REPLY, 1, 15000));
    CHECK(th_send_quotes(server, '2', "SIMA01", 0, 1));
    CHECK(th_wait(rec, TH_QUOTE, 1, 15000));
    /* Destroyed while quotes stream in: none is delivered after it returns. */
    CHECK(th_send_quotes(server, '2', "SIMA01", 1, 2000));
    CHECK_EQ(orvq_destroy(teardown_client), ORVQ_OK);
    th_seal(rec);
    th_server_stop(server);
    CHECK_EQ(th_late(rec), 0);
    th_recorder_free(rec);
}

typedef struct blocked_poll {
    orvq_client* client;
    int events; /* 1: orvq_next_event, 0: orvq_poll_quotes */
    int result;
} blocked_poll;

static void poll_without_end(void* argument) {
    blocked_poll* poll = (blocked_poll*)argument;
    orvq_event event;
    orvq_quote quote;
    event.size = sizeof event;
    poll->result = poll->events ? orvq_next_event(poll->client, &event, -1)
                                : orvq_poll_quotes(poll->client, &quote, NULL, NULL, 1, -1);
}

static int two_pollers(void* client) {
    return th_pollers((orvq_client*)client) == 2;
}

static void destroy_ends_blocked_polls(void) {
    blocked_poll polls[2];
    th_thread* threads[2];
    orvq_client* client = NULL;
    int i;
    CHECK_EQ(orvq_create(NULL, NULL, 16, &client), ORVQ_OK);
    for (i = 0; i < 2; ++i) {
        polls[i].client = client;
        polls[i].events = i;
        polls[i].result = 1;
        threads[i] = th_thread_start(poll_without_end, &polls[i]);
    }
    CHECK(th_wait_until(two_pollers, client, 15000));
    CHECK_EQ(orvq_destroy(client), ORVQ_OK);
    for (i = 0; i < 2; ++i) {
        th_thread_join(threads[i]);
        CHECK_EQ(polls[i].result, ORVQ_ERR_CLOSED);
    }
}

/* ---- refusals -------------------------------------------------------------------------------- */

static void bad_arguments_and_states(void) {
    const orvq_callbacks table = recording_table();
    orvq_callbacks empty;
    orvq_client *pull = NULL, *callbacks = NULL, *unused = NULL;
    orvq_event event;
    orvq_stats stats;
    orvq_quote quote;
    th_recorder* rec = th_recorder_new();
    memset(&empty, 0, sizeof empty);
    CHECK_EQ(orvq_create(NULL, NULL, 0, NULL), ORVQ_ERR_ARGUMENT);
    CHECK_EQ(orvq_create(&empty, NULL, 0, &unused), ORVQ_ERR_ARGUMENT); /* size not set */
    CHECK_EQ(orvq_create(NULL, NULL, -1, &unused), ORVQ_ERR_ARGUMENT);
    CHECK_EQ(orvq_create(NULL, NULL, 4194305, &unused), ORVQ_ERR_ARGUMENT);
    CHECK(unused == NULL);
    CHECK_EQ(orvq_destroy(NULL), ORVQ_OK);
    CHECK_EQ(orvq_create(NULL, NULL, 0, &pull), ORVQ_OK);
    CHECK_EQ(orvq_create(&table, rec, 0, &callbacks), ORVQ_OK);
    CHECK_EQ(orvq_connect(pull, NULL, 7100), ORVQ_ERR_ARGUMENT);
    CHECK_EQ(orvq_connect(pull, "127.000.000.0001", 7100), ORVQ_ERR_ARGUMENT);
    CHECK_EQ(orvq_connect(pull, "127.0.0.1", 0), ORVQ_ERR_ARGUMENT);
    CHECK_EQ(orvq_connect(pull, "127.0.0.1", 1), ORVQ_ERR_CONNECT); /* nothing listens */
    CHECK_EQ(orvq_login(pull, "demo", "demo"), ORVQ_ERR_STATE);
    CHECK_EQ(orvq_login(pull, "sixteen-letters!", "demo"), ORVQ_ERR_ARGUMENT);
    CHECK_EQ(orvq_register(pull, '1', NULL), ORVQ_ERR_ARGUMENT);
    CHECK_EQ(orvq_poll_quotes(pull, &quote, NULL, NULL, 0, 0), ORVQ_ERR_ARGUMENT);
    CHECK_EQ(orvq_poll_quotes(pull, &quote, NULL, NULL, 1, 0), 0);
    CHECK_EQ(orvq_poll_quotes(pull, &quote, NULL, NULL, 1, 30), 0);
    event.size = sizeof event - 1;
    CHECK_EQ(orvq_next_event(pull, &event, 0), ORVQ_ERR_ARGUMENT);
    stats.size = 8;
    CHECK_EQ(orvq_get_stats(pull, &stats), ORVQ_ERR_ARGUMENT);
    /* The refusals' log lines wait in the queue, as OnLogText would have had them. */
    event.size = sizeof event;
    CHECK_EQ(orvq_next_event(pull, &event, 0), 1);
    CHECK(event.kind == ORVQ_EVENT_LOG && event.value == 3 && strstr(event.text, "port: 1."));
    CHECK_EQ(orvq_next_event(pull, &event, 0), 1);
    CHECK_EQ(strcmp(event.text, "[QuoteClient] login_to_oqs failed. wrong oqc tcp status: 0."), 0);
    CHECK_EQ(orvq_next_event(pull, &event, 30), 0);
    CHECK_EQ(orvq_poll_quotes(callbacks, &quote, NULL, NULL, 1, 0), ORVQ_ERR_NOT_PULL);
    CHECK_EQ(orvq_next_event(callbacks, &event, 0), ORVQ_ERR_NOT_PULL);
    CHECK_EQ(orvq_destroy(pull), ORVQ_OK);
    CHECK_EQ(orvq_destroy(callbacks), ORVQ_OK);
    th_recorder_free(rec);
}

/* ---- the runner ---------------------------------------------------------------------------- */

static const struct {
    const char* name;
    void (*run)(void);
} cases[] = {{"layout_and_version", layout_and_version},
             {"same_events_as_the_cxx_interface", same_events_as_the_cxx_interface},
             {"lost_and_restored", lost_and_restored},
             {"full_queue_drops_the_newest", full_queue_drops_the_newest},
             {"teardown_inside_a_callback_is_refused", teardown_inside_a_callback_is_refused},
             {"destroy_ends_blocked_polls", destroy_ends_blocked_polls},
             {"bad_arguments_and_states", bad_arguments_and_states}};

int main(int argc, char** argv) {
    size_t i;
    int ran = 0;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        if (argc > 1 && strcmp(argv[1], cases[i].name) != 0) continue;
        const int before = failures;
        cases[i].run();
        printf("%s %s\n", failures == before ? "passed" : "FAILED", cases[i].name);
        ++ran;
    }
    if (ran == 0) fprintf(stderr, "no case named %s\n", argv[1]);
    return ran > 0 && failures == 0 ? 0 : 1;
}
