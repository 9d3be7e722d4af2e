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

/* ---- callbacks that record what they get ------------------------------------------------- */

/* A callback `name` with `parameters` (the user pointer is `u`) that records one event: its
 * kind, exchange code `c`, value (success, level or last) and text `s`. */
#define RECORDER(name, parameters, kind, code, value, text, quote) \
    static void name parameters {                                  \
        th_add((th_recorder*)u, kind, code, value, text, quote);   \
    }
RECORDER(rec_connected, (void* u), ORVQ_EVENT_CONNECTED, 0, 0, NULL, NULL)
RECORDER(rec_disconnected, (void* u), ORVQ_EVENT_DISCONNECTED, 0, 0, NULL, NULL)
RECORDER(rec_login, (void* u, int ok, const char* s), ORVQ_EVENT_LOGIN_REPLY, 0, ok, s, NULL)
RECORDER(rec_quote, (void* u, int c, const orvq_quote* q), TH_QUOTE, c, 0, NULL, q)
RECORDER(rec_register, (void* u, int c, const char* s, int ok), ORVQ_EVENT_REGISTER_REPLY, c, ok, s,
         0)
RECORDER(rec_unregister, (void* u, int c, const char* s, int ok), ORVQ_EVENT_UNREGISTER_REPLY, c,
         ok, s, 0)
RECORDER(rec_symbol, (void* u, int c, const char* s, int last), ORVQ_EVENT_SYMBOL, c, last, s, 0)
RECORDER(rec_lost, (void* u), ORVQ_EVENT_CONNECTION_LOST, 0, 0, NULL, NULL)
RECORDER(rec_restored, (void* u), ORVQ_EVENT_CONNECTION_RESTORED, 0, 0, NULL, NULL)

static void rec_log(void* user, int level, const char* text, int length) {
    th_add((th_recorder*)user, ORVQ_EVENT_LOG, 0, level, text, NULL);
    CHECK_EQ((size_t)length, strlen(text));
}

static const orvq_callbacks recording_table = {
    sizeof(orvq_callbacks), rec_connected,  rec_disconnected, rec_login, rec_quote,   rec_log,
    rec_register,           rec_unregister, rec_symbol,       rec_lost,  rec_restored};

/* Pull mode: takes every queued event, then the quotes, into the recorder. */
static void pump(orvq_client* client, th_recorder* rec, int timeout_ms) {
    orvq_event event;
    orvq_quote quotes[16];
    char codes[16];
    int i, n;
    event.size = sizeof event;
    for (; orvq_next_event(client, &event, timeout_ms) == 1; timeout_ms = 0) {
        th_add(rec, event.kind, event.exchange_code, event.value, event.text, NULL);
        CHECK((size_t)event.length == strlen(event.text) && event.time_ns > 0);
    }
    while ((n = orvq_poll_quotes(client, quotes, codes, NULL, 16, 0)) > 0) {
        for (i = 0; i < n; ++i) th_add(rec, TH_QUOTE, codes[i], 0, NULL, &quotes[i]);
    }
}

/* Waits, bounded, for `count` records of `kind`; a pull client (not null) is pumped meanwhile,
 * each pump waiting at most 20 ms for an event. */
static int wait_for(orvq_client* pull, th_recorder* rec, int kind, int count) {
    int pumps;
    if (pull == NULL) return th_wait(rec, kind, count, 15000);
    for (pumps = 0; th_count(rec, kind) < count && pumps < 750; ++pumps) pump(pull, rec, 20);
    return th_count(rec, kind) >= count;
}

/* The index of the n-th record (from 0) of `kind`, which goes to *out; -1 when there is none. */
static int find(th_recorder* rec, int kind, int n, th_record* out) {
    int i;
    for (i = 0; th_get(rec, i, out); ++i) {
        if (out->kind == kind && n-- == 0) return i;
    }
    return -1;
}

/* ---- a whole session, compared with the C++ interface's ----------------------------------- */

/* Connect, log in, list the symbols, register (one unlisted symbol is ignored), two quotes,
 * unregister, disconnect; th_cxx_session takes the same steps. `pull`: no callbacks. */
static void run_session(int pull, th_server* server, th_recorder* rec) {
    orvq_client* c = NULL;
    orvq_client* pumped;
    CHECK_EQ(orvq_create(pull ? NULL : &recording_table, rec, 0, &c), ORVQ_OK);
    pumped = pull ? c : NULL;
    CHECK_EQ(orvq_connect(c, "127.0.0.1", th_server_port(server)), ORVQ_OK);
    CHECK_EQ(orvq_login(c, "demo", "demo"), ORVQ_OK);
    CHECK(wait_for(pumped, rec, ORVQ_EVENT_LOGIN_REPLY, 1));
    CHECK_EQ(orvq_query_symbols(c), ORVQ_OK);
    CHECK(wait_for(pumped, rec, ORVQ_EVENT_SYMBOL, th_symbol_count() + 1));
    CHECK(orvq_register(c, '1', "Au(T+D)") == ORVQ_OK && orvq_register(c, '2', "NOT-LISTED") == 0);
    CHECK(wait_for(pumped, rec, ORVQ_EVENT_REGISTER_REPLY, 1));
    CHECK(th_send_quotes(server, '1', "0", 7, 2));
    CHECK(wait_for(pumped, rec, TH_QUOTE, 2));
    CHECK_EQ(orvq_unregister(c, '1', "Au(T+D)"), ORVQ_OK);
    CHECK(wait_for(pumped, rec, ORVQ_EVENT_UNREGISTER_REPLY, 1));
    CHECK_EQ(orvq_disconnect(c), ORVQ_OK);
    if (pull) pump(c, rec, 0); /* what the disconnection reported */
    CHECK_EQ(orvq_destroy(c), ORVQ_OK);
    CHECK(th_wait_no_connection(server));
}

/* Whether a log line of `x` is one of `y`'s, unless it is the worker's registration pass,
 * whose lines come as often as the timing lets passes see a state. */
static int log_line_in(const th_record* x, th_recorder* y) {
    th_record other;
    int i;
    if (strncmp(x->text, "[QuoteClient] nothing to reg", 28) == 0 ||
        strncmp(x->text, "[QuoteClient] valid:", 20) == 0 ||
        strncmp(x->text, "[QuoteClient] send ", 19) == 0) {
        return 1;
    }
    for (i = 0; th_get(y, i, &other); ++i) {
        if (other.kind == ORVQ_EVENT_LOG && other.value == x->value &&
            strcmp(other.text, x->text) == 0) {
            return 1;
        }
    }
    fprintf(stderr, "log line only on one side: %s\n", x->text);
    return 0;
}

/* Every record but the log lines is the same in both, in the same order (quotes byte for
 * byte), and each log line of one is a line of the other. */
static int same_events(th_recorder* a, th_recorder* b) {
    th_record x, y;
    int i = 0, j = 0, same = 1;
    for (;; ++i, ++j) {
        while (th_get(a, i, &x) && x.kind == ORVQ_EVENT_LOG) same &= log_line_in(&x, b), ++i;
        while (th_get(b, j, &y) && y.kind == ORVQ_EVENT_LOG) same &= log_line_in(&y, a), ++j;
        if (!th_get(a, i, &x) || !th_get(b, j, &y)) break;
        if (x.kind != y.kind || x.exchange_code != y.exchange_code || x.value != y.value ||
            strcmp(x.text, y.text) != 0 || memcmp(&x.quote, &y.quote, sizeof x.quote) != 0) {
            fprintf(stderr, "event %d/%d: kind %d/%d '%s'/'%s'\n", i, j, x.kind, y.kind, x.text,
                    y.text);
            return 0;
        }
    }
    return same && !th_get(a, i, &x) && !th_get(b, j, &y);
}

static void same_events_as_the_cxx_interface(void) {
    th_server* server = th_server_start();
    th_recorder* cxx = th_recorder_new();
    th_recorder* callbacks = th_recorder_new();
    th_recorder* pull = th_recorder_new();
    th_cxx_session(server, cxx);
    run_session(0, server, callbacks);
    run_session(1, server, pull);
    /* connected, login, the list and its end, register, 2 quotes, unregister, disconnected */
    CHECK_EQ(th_count(cxx, 0) - th_count(cxx, ORVQ_EVENT_LOG), th_symbol_count() + 8);
    CHECK(same_events(cxx, callbacks));
    CHECK(same_events(cxx, pull));
    th_recorder_free(cxx);
    th_recorder_free(callbacks);
    th_recorder_free(pull);
    th_server_stop(server);
}

/* ---- the record, the version, the texts ----------------------------------------------------- */

static void layout_and_version(void) {
    int status, other;
    CHECK(sizeof(orvq_quote) == 345 && sizeof(orvq_depth_level) == 12);
    CHECK(offsetof(orvq_quote, Symbol) == 9 && offsetof(orvq_quote, ExchangeName) == 40);
    CHECK(offsetof(orvq_quote, ExchangeSymbol) == 49 && offsetof(orvq_quote, MarketValue1) == 80);
    CHECK(offsetof(orvq_quote, MarketValue7) == 128 && offsetof(orvq_quote, MarketCount1) == 136);
    CHECK(offsetof(orvq_quote, MarketValue8) == 140 && offsetof(orvq_quote, MarketValue15) == 196);
    CHECK(offsetof(orvq_quote, TimeText) == 204 && offsetof(orvq_quote, TimeValue) == 213);
    CHECK(offsetof(orvq_quote, DepthLevels) == 217 && offsetof(orvq_quote, MarketValue16) == 337);
    CHECK_EQ(offsetof(orvq_quote, DepthLevels[1].Count), 217u + 12u + 8u);
    CHECK(orvq_quote_size() == ORVQ_QUOTE_SIZE && orvq_abi_version() == ORVQ_ABI_VERSION);
    CHECK_EQ(strcmp(orvq_version(), ORVQ_TEST_VERSION), 0);
    for (status = 1; status >= ORVQ_ERR_INTERNAL; --status) { /* 1: an unknown status */
        for (other = 1; other > status; --other) {
            CHECK(strcmp(orvq_status_text(status), orvq_status_text(other)) != 0);
        }
    }
}

/* ---- pull mode's own cases ------------------------------------------------------------------ */

/* A logged-in pull client with SIMA01 registered. */
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
    stats.size = sizeof stats;
    CHECK_EQ(orvq_get_stats(client, &stats), ORVQ_OK);
    return stats;
}

/* The loss of a logged-in connection and, after the 2 s reconnect wait, its restoration come
 * in that order, then the registration again; a second loss whose new login is refused ends
 * the session, which the statistics then say. */
static void lost_restored_and_ended(void) {
    th_server* server = th_server_start();
    th_recorder* rec = th_recorder_new();
    orvq_client* client = pull_session(server, rec, 0);
    th_record event;
    int registered, lost, restored, again;
    CHECK(stats_of(client).reconnects == 0 && stats_of(client).session_ended == 0);
    CHECK(th_drop_all(server));
    CHECK(wait_for(client, rec, ORVQ_EVENT_REGISTER_REPLY, 2));
    CHECK(th_count(rec, ORVQ_EVENT_CONNECTION_LOST) == 1 &&
          th_count(rec, ORVQ_EVENT_DISCONNECTED) == 0 &&
          th_count(rec, ORVQ_EVENT_CONNECTION_RESTORED) == 1);
    registered = find(rec, ORVQ_EVENT_REGISTER_REPLY, 0, &event);
    lost = find(rec, ORVQ_EVENT_CONNECTION_LOST, 0, &event);
    restored = find(rec, ORVQ_EVENT_CONNECTION_RESTORED, 0, &event);
    again = find(rec, ORVQ_EVENT_REGISTER_REPLY, 1, &event);
    CHECK(registered < lost && lost < restored && restored < again);
    CHECK_EQ(strcmp(event.text, "SIMA01"), 0);
    CHECK(stats_of(client).reconnects == 1u && stats_of(client).session_ended == 0);
    th_refuse_logins(server);
    CHECK(th_drop_all(server));
    CHECK(wait_for(client, rec, ORVQ_EVENT_DISCONNECTED, 1));
    CHECK(stats_of(client).session_ended == 1u && th_count(rec, ORVQ_EVENT_CONNECTION_LOST) == 2);
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
    CHECK(stats.quotes_dropped == 12 && stats.queue_depth == 8);
    CHECK_EQ(orvq_poll_quotes(client, quotes, codes, times, 32, 0), 8);
    for (i = 0; i < 8; ++i) {
        th_make_quote("SIMA01", 100 + i, &sent);
        CHECK(memcmp(&quotes[i], &sent, sizeof sent) == 0 && codes[i] == '2');
        CHECK(times[i] > 0 && (i == 0 || times[i] >= times[i - 1]));
    }
    CHECK_EQ(stats_of(client).queue_depth, 0u);
    /* Room again: the next quote is queued and wakes a waiting poll. */
    CHECK(th_send_quotes(server, '2', "SIMA01", 120, 1));
    CHECK_EQ(orvq_poll_quotes(client, quotes, NULL, NULL, 32, 10000), 1);
    th_make_quote("SIMA01", 120, &sent);
    CHECK_EQ(memcmp(&quotes[0], &sent, sizeof sent), 0);
    CHECK(stats_of(client).quotes_dropped == 12 && stats_of(client).quotes_received == 21);
    CHECK_EQ(orvq_destroy(client), ORVQ_OK);
    th_recorder_free(rec);
    th_server_stop(server);
}

/* ---- teardown ------------------------------------------------------------------------------ */

static orvq_client* teardown_client = NULL; /* whose login callback tries to tear it down */

static void teardown_on_login(void* user, int success, const char* text) {
    th_add((th_recorder*)user, ORVQ_EVENT_LOGIN_REPLY, orvq_disconnect(teardown_client),
           orvq_destroy(teardown_client), text, NULL);
    (void)success;
}

static void teardown_inside_a_callback_is_refused(void) {
    th_server* server = th_server_start();
    th_recorder* rec = th_recorder_new();
    orvq_callbacks table = recording_table;
    th_record record;
    int quotes;
    table.on_login_reply = teardown_on_login; /* on the worker */
    CHECK_EQ(orvq_create(&table, rec, 0, &teardown_client), ORVQ_OK);
    CHECK_EQ(orvq_connect(teardown_client, "127.0.0.1", th_server_port(server)), ORVQ_OK);
    CHECK_EQ(orvq_login(teardown_client, "demo", "demo"), ORVQ_OK);
    CHECK(th_wait(rec, ORVQ_EVENT_LOGIN_REPLY, 1, 15000));
    CHECK(find(rec, ORVQ_EVENT_LOGIN_REPLY, 0, &record) >= 0);
    CHECK(record.exchange_code == ORVQ_ERR_IN_CALLBACK && record.value == ORVQ_ERR_IN_CALLBACK);
    /* The client lives on, and is destroyed while quotes stream in: none comes after. */
    CHECK_EQ(orvq_register(teardown_client, '2', "SIMA01"), ORVQ_OK);
    CHECK(th_wait(rec, ORVQ_EVENT_REGISTER_REPLY, 1, 15000));
    CHECK(th_send_quotes(server, '2', "SIMA01", 0, 2000));
    CHECK(th_wait(rec, TH_QUOTE, 1, 15000));
    CHECK_EQ(orvq_destroy(teardown_client), ORVQ_OK);
    quotes = th_count(rec, TH_QUOTE);
    th_server_stop(server);
    CHECK_EQ(th_count(rec, TH_QUOTE), quotes);
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
        threads[i] = th_thread_start(poll_without_end, &polls[i]);
    }
    CHECK(th_wait_until(two_pollers, client, 15000));
    CHECK_EQ(orvq_destroy(client), ORVQ_OK);
    for (i = 0; i < 2; ++i) {
        th_thread_join(threads[i]);
        CHECK_EQ(polls[i].result, ORVQ_ERR_CLOSED);
    }
}

/* ---- refusals ------------------------------------------------------------------------------ */

static void bad_arguments_and_states(void) {
    orvq_callbacks unsized = recording_table;
    orvq_client *pull = NULL, *callbacks = NULL;
    orvq_event event;
    orvq_quote quote;
    unsized.size = 0;
    CHECK(orvq_create(NULL, NULL, 0, NULL) == ORVQ_ERR_ARGUMENT &&
          orvq_create(&unsized, NULL, 0, &pull) == ORVQ_ERR_ARGUMENT &&
          orvq_create(NULL, NULL, 4194305, &pull) == ORVQ_ERR_ARGUMENT && pull == NULL);
    CHECK(orvq_create(NULL, NULL, 0, &pull) == ORVQ_OK &&
          orvq_create(&recording_table, NULL, 0, &callbacks) == ORVQ_OK);
    CHECK(orvq_connect(pull, "127.000.000.0001", 7100) == ORVQ_ERR_ARGUMENT &&
          orvq_connect(pull, "127.0.0.1", 0) == ORVQ_ERR_ARGUMENT &&
          orvq_login(pull, "sixteen-letters!", "demo") == ORVQ_ERR_ARGUMENT);
    CHECK_EQ(orvq_connect(pull, "127.0.0.1", 1), ORVQ_ERR_CONNECT); /* nothing listens */
    CHECK_EQ(orvq_login(pull, "demo", "demo"), ORVQ_ERR_STATE);
    event.size = sizeof event - 1;
    CHECK(orvq_next_event(pull, &event, 0) == ORVQ_ERR_ARGUMENT &&
          orvq_poll_quotes(pull, &quote, NULL, NULL, 0, 0) == ORVQ_ERR_ARGUMENT);
    /* The refusals' log lines wait in the queue, as OnLogText would have had them. */
    event.size = sizeof event;
    CHECK(orvq_next_event(pull, &event, 0) == 1 && strstr(event.text, "port: 1.") != NULL);
    CHECK(orvq_next_event(pull, &event, 0) == 1 && event.kind == ORVQ_EVENT_LOG);
    CHECK_EQ(strcmp(event.text, "[QuoteClient] login_to_oqs failed. wrong oqc tcp status: 0."), 0);
    CHECK(orvq_next_event(pull, &event, 30) == 0 &&
          orvq_poll_quotes(pull, &quote, NULL, NULL, 1, 30) == 0);
    CHECK(orvq_poll_quotes(callbacks, &quote, NULL, NULL, 1, 0) == ORVQ_ERR_NOT_PULL &&
          orvq_next_event(callbacks, &event, 0) == ORVQ_ERR_NOT_PULL);
    CHECK(orvq_destroy(pull) == ORVQ_OK && orvq_destroy(callbacks) == ORVQ_OK);
}

/* ---- the runner ---------------------------------------------------------------------------- */

/* Runs `test` unless another case was named; 1 when it ran. */
static int run(const char* only, const char* name, void (*test)(void)) {
    const int before = failures;
    if (only != NULL && strcmp(only, name) != 0) return 0;
    test();
    printf("%s %s\n", failures == before ? "passed" : "FAILED", name);
    return fflush(stdout) == 0;
}
#define RUN(test) ran += run(argc > 1 ? argv[1] : NULL, #test, test)

int main(int argc, char** argv) {
    int ran = 0;
    RUN(layout_and_version);
    RUN(same_events_as_the_cxx_interface);
    RUN(lost_restored_and_ended);
    RUN(full_queue_drops_the_newest);
    RUN(teardown_inside_a_callback_is_refused);
    RUN(destroy_ends_blocked_polls);
    RUN(bad_arguments_and_states);
    return ran > 0 && failures == 0 ? 0 : 1;
}
