/* Test support for the C interface's tests: C++ behind a C face. A simulated quote server on
 * 127.0.0.1, a recorder of events that any thread may add to and the test waits on with a
 * bound, threads, a look at a handle's pollers, and the reference session through the C++
 * interface. */
#ifndef C_HARNESS_H
#define C_HARNESS_H

#include "orv_quote_c.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A server with the simulator's sample symbols that accepts every login and registration. */
typedef struct th_server th_server;
th_server* th_server_start(void);
void th_server_stop(th_server* server);
int th_server_port(const th_server* server);
int th_symbol_count(void); /* entries of its symbol list */
/* `count` quotes of `symbol` (wire text) numbered from `first`, in one write to every open
 * connection; 1 when all went out. th_make_quote: the record sent for `sequence`. */
int th_send_quotes(th_server* server, char exchange_code, const char* symbol, int first, int count);
void th_make_quote(const char* symbol, int sequence, orvq_quote* out);
/* Drops every connection, or waits for none to be open (bounded); 1 on success. */
int th_drop_all(th_server* server);
void th_refuse_logins(th_server* server); /* every login from now on */
int th_wait_no_connection(th_server* server);

/* Everything a callback or a poll handed over, in the order it was added. */
#define TH_QUOTE 100 /* the kind of a quote; events keep their ORVQ_EVENT_* kind */
typedef struct th_record {
    int kind;
    int exchange_code;
    int value;
    char text[1024];
    orvq_quote quote;
} th_record;
typedef struct th_recorder th_recorder;
th_recorder* th_recorder_new(void);
void th_recorder_free(th_recorder* recorder);
void th_add(th_recorder* recorder, int kind, int exchange_code, int value, const char* text,
            const orvq_quote* quote);
int th_count(th_recorder* recorder, int kind); /* kind 0: all */
/* 1 once `count` records of `kind` are there, 0 after `timeout_ms`. */
int th_wait(th_recorder* recorder, int kind, int count, int timeout_ms);
int th_get(th_recorder* recorder, int index, th_record* out); /* 0: no such record */

typedef struct th_thread th_thread;
th_thread* th_thread_start(void (*run)(void* argument), void* argument);
void th_thread_join(th_thread* thread);
/* 1 once done(argument) returns non-zero (asked every millisecond), 0 after `timeout_ms`. */
int th_wait_until(int (*done)(void* argument), void* argument, int timeout_ms);

/* Threads inside orvq_poll_quotes or orvq_next_event of `client` now. */
int th_pollers(orvq_client* client);

/* run_session's steps (c_api_test.c) through the C++ interface, recorded from its sink. */
void th_cxx_session(th_server* server, th_recorder* recorder);

#ifdef __cplusplus
}
#endif

#endif /* C_HARNESS_H */
