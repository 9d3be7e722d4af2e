/* minimal_c: the minimal quote client in C99, on the orvquote library's C interface alone. It
 * prints the same lines as the C++ minimal example: it connects to a quote server, logs in,
 * registers the symbols named on the command line and prints one line per quote for a number
 * of seconds.
 *
 *   minimal_c [--server IP:PORT] [--user NAME] [--password TEXT] [--seconds N] [SYMBOL ...]
 *
 * Defaults: 127.0.0.1:7100, user demo, password demo, 10 seconds, the symbol Au(T+D); the
 * simulator that comes with the library (oqs_sim) answers to exactly these.
 *
 * It uses pull mode: the library queues quotes and events, and this program's one thread takes
 * them, so no code of it runs on a library thread and it needs no locks. Build it with
 *   cc -std=c99 minimal_c.c $(pkg-config --cflags --libs orvquote) */
#include <orv_quote_c.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define MAX_SYMBOLS 64

typedef struct options {
    char ip[16];
    int port;
    const char* user;
    const char* password;
    int seconds;
    const char* symbols[MAX_SYMBOLS];
    int listed[MAX_SYMBOLS]; /* found in the server's symbol list */
    int symbol_count;
} options;

/* A whole number from low to high, or -1. */
static int whole_number(const char* text, int low, int high) {
    char* end = NULL;
    const long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) return -1;
    return (int)value;
}

/* NULL, or what is wrong with the command line. The records the library takes have fixed
 * widths, hence the length limits. */
static const char* parse(int argc, char** argv, options* o) {
    int i;
    for (i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (strcmp(arg, "--server") != 0 && strcmp(arg, "--user") != 0 &&
            strcmp(arg, "--password") != 0 && strcmp(arg, "--seconds") != 0) {
            if (arg[0] == '-') return "unknown option";
            if (o->symbol_count == MAX_SYMBOLS) return "too many symbols";
            o->symbols[o->symbol_count++] = arg;
            continue;
        }
        if (value == NULL) return "an option wants a value";
        ++i;
        if (strcmp(arg, "--server") == 0) {
            const char* colon = strrchr(value, ':');
            const size_t length = colon != NULL ? (size_t)(colon - value) : 0;
            if (length == 0 || length > 15) return "--server wants IP:PORT";
            memcpy(o->ip, value, length);
            o->ip[length] = '\0';
            o->port = whole_number(colon + 1, 1, 65535);
            if (o->port < 0) return "--server wants IP:PORT";
        } else if (strcmp(arg, "--user") == 0) {
            o->user = value;
            if (strlen(value) > 15) return "--user: at most 15 characters";
        } else if (strcmp(arg, "--password") == 0) {
            o->password = value;
            if (strlen(value) > 32) return "--password: at most 32 characters";
        } else {
            o->seconds = whole_number(value, 1, 86400);
            if (o->seconds < 0) return "--seconds wants a whole number from 1 to 86400";
        }
    }
    if (o->symbol_count == 0) o->symbols[o->symbol_count++] = "Au(T+D)";
    return NULL;
}

/* One event from the library's queue. Returns 1 when it was the login's outcome (*logged_in
 * says which), 0 otherwise. Registering needs the exchange code, which the server's symbol
 * list gives. */
static int handle_event(orvq_client* client, const orvq_event* e, options* o, int* logged_in) {
    int i;
    switch (e->kind) {
        case ORVQ_EVENT_LOGIN_REPLY:
            if (!e->value) fprintf(stderr, "minimal_c: login failed: %s\n", e->text);
            *logged_in = e->value;
            return 1;
        case ORVQ_EVENT_SYMBOL:
            for (i = 0; i < o->symbol_count; ++i) {
                if (e->value && !o->listed[i]) {
                    fprintf(stderr, "minimal_c: %s is not in the server's list\n", o->symbols[i]);
                } else if (!e->value && strcmp(o->symbols[i], e->text) == 0) {
                    o->listed[i] = 1;
                    orvq_register(client, (char)e->exchange_code, e->text);
                }
            }
            return 0;
        case ORVQ_EVENT_REGISTER_REPLY:
            printf("%s %s\n", e->value ? "registered" : "refused", e->text);
            return 0;
        case ORVQ_EVENT_DISCONNECTED:
            fprintf(stderr, "minimal_c: disconnected\n");
            return 0;
        default: /* log lines and the rest */
            return 0;
    }
}

static void print_quote(const orvq_quote* q, char exchange_code) {
    printf("%-10s %c %s.%03d  last %.2f  bid %.2f x %d  ask %.2f x %d  volume %d\n", q->Symbol,
           exchange_code, q->TimeText, (int)q->TimeValue, q->MarketValue1, q->DepthLevels[0].Value,
           (int)q->DepthLevels[0].Count, q->DepthLevels[5].Value, (int)q->DepthLevels[5].Count,
           (int)q->MarketCount1);
}

/* Waits up to `seconds` for the login's outcome; 1 when logged in. */
static int wait_for_login(orvq_client* client, options* o, int seconds) {
    orvq_event event;
    const time_t start = time(NULL);
    int logged_in = 0;
    event.size = sizeof event;
    while (difftime(time(NULL), start) < seconds) {
        if (orvq_next_event(client, &event, 100) == 1 &&
            handle_event(client, &event, o, &logged_in)) {
            return logged_in;
        }
    }
    return 0;
}

/* Handles events and prints quotes for o->seconds; returns how many quotes came. Each wait
 * for quotes returns as soon as one arrives, or after 100 ms, so that events and the clock are
 * looked at. */
static unsigned long long show_quotes(orvq_client* client, options* o) {
    static orvq_quote quotes[256];
    char codes[256];
    orvq_event event;
    unsigned long long count = 0;
    const time_t start = time(NULL);
    int i, n, unused;
    event.size = sizeof event;
    while (difftime(time(NULL), start) < o->seconds) {
        n = orvq_poll_quotes(client, quotes, codes, NULL, 256, 100);
        /* Events first: a register reply comes before the quotes it lets through. */
        while (orvq_next_event(client, &event, 0) == 1) handle_event(client, &event, o, &unused);
        for (i = 0; i < n; ++i) print_quote(&quotes[i], codes[i]);
        if (n > 0) count += (unsigned long long)n;
    }
    return count;
}

int main(int argc, char** argv) {
    options o;
    orvq_client* client = NULL;
    unsigned long long quotes = 0;
    int status = 1;
    const char* error;
    memset(&o, 0, sizeof o);
    strcpy(o.ip, "127.0.0.1");
    o.port = 7100;
    o.user = "demo";
    o.password = "demo";
    o.seconds = 10;
    error = parse(argc, argv, &o);
    if (error != NULL) {
        fprintf(stderr,
                "minimal_c: %s\nusage: minimal_c [--server IP:PORT] [--user NAME] "
                "[--password TEXT] [--seconds N] [SYMBOL ...]\n",
                error);
        return 2;
    }
    /* No callback table: pull mode. 0: the default queue of 65536 quotes. */
    if (orvq_create(NULL, NULL, 0, &client) != ORVQ_OK) return 1;
    if (orvq_connect(client, o.ip, o.port) != ORVQ_OK) {
        fprintf(stderr, "minimal_c: cannot connect to %s:%d\n", o.ip, o.port);
    } else {
        orvq_login(client, o.user, o.password);
        /* The library answers the login once the symbol list is in, or gives up after 5 s. */
        if (wait_for_login(client, &o, 10)) {
            orvq_query_symbols(client); /* the replies register the wanted symbols */
            quotes = show_quotes(client, &o);
            status = 0;
        }
    }
    /* Disconnects and frees the client; nothing of it is used afterwards. */
    orvq_destroy(client);
    printf("%llu quotes\n", quotes);
    return status;
}
