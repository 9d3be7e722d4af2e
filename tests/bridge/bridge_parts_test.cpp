// quote_bridge's parts without a server: the session events told from the library's log lines
// and replies, the XADD commands in the protocol's form (read back with hiredis's own reply
// reader) and the command line.
#include <gtest/gtest.h>

#include <hiredis/hiredis.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "apps/bridge_options.h"
#include "apps/session_events.h"
#include "apps/stream_entry.h"
#include "sim/sample_data.h"

namespace {

std::vector<std::string> told;

session_events recorder() {
    told.clear();
    return session_events([](session_event e, int count) {
        told.push_back(std::string(session_event_name(e)) +
                       (count ? " " + std::to_string(count) : ""));
    });
}

// The commands hiredis's reader finds in `bytes`: each an array of bulk strings.
std::vector<std::vector<std::string>> read_commands(const std::string& bytes) {
    redisReader* reader = redisReaderCreate();
    redisReaderFeed(reader, bytes.data(), bytes.size());
    std::vector<std::vector<std::string>> commands;
    void* raw = nullptr;
    while (redisReaderGetReply(reader, &raw) == REDIS_OK && raw != nullptr) {
        const redisReply* r = static_cast<const redisReply*>(raw);
        std::vector<std::string> args;
        for (std::size_t i = 0; r->type == REDIS_REPLY_ARRAY && i < r->elements; ++i) {
            args.emplace_back(r->element[i]->str, r->element[i]->len);
        }
        commands.push_back(args);
        freeReplyObject(raw);
    }
    EXPECT_EQ(reader->pos, reader->len) << "bytes left after the last whole command";
    redisReaderFree(reader);
    return commands;
}

}  // namespace

TEST(SessionEvents, TheLibrarysLinesAndRepliesMakeTheSessionsEvents) {
    session_events events = recorder();
    events.on_login_reply(false);
    events.on_login_reply(true);
    for (int i = 0; i < 3; ++i) events.on_register_reply(i != 1);  // two accepted
    // Only the library's own texts count, from their first character.
    events.on_log_line("[on_cache_callback] EVENT_REMOTE_DISCONNECT,thd_is_run:0");
    events.on_log_line("said: [QuoteClient] relogin success, server ip: 1.2.3.4, port: 1.");
    events.on_log_line(nullptr);
    EXPECT_EQ(told, std::vector<std::string>{"logged_in"});

    events.on_log_line("[on_cache_callback] EVENT_REMOTE_DISCONNECT,thd_is_run:1");
    events.on_log_line("[on_cache_callback] EVENT_REMOTE_DISCONNECT,thd_is_run:1");
    events.on_register_reply(true);  // the old connection's late reply
    events.on_log_line("[QuoteClient] relogin success, server ip: 127.0.0.1, port: 7100.");
    events.on_register_reply(true);
    events.on_register_reply(false);
    events.on_register_reply(true);  // one more than was registered: not counted twice
    // Lost again while restoring, then restored through the connection events themselves.
    events.on_connection_lost();
    events.on_connection_restored();
    events.on_connection_restored();
    events.on_register_reply(true);
    events.on_register_reply(true);
    events.on_log_line("[QuoteClient] relogin failed, server ip: 127.0.0.1, port: 7100.");
    EXPECT_EQ(told, (std::vector<std::string>{"logged_in", "connection_lost", "connection_restored",
                                              "registrations_restored 1", "connection_lost",
                                              "connection_restored", "registrations_restored 2",
                                              "session_ended"}));
    // With nothing registered a restore is complete at once.
    session_events fresh = recorder();
    fresh.on_connection_lost();
    fresh.on_connection_restored();
    EXPECT_EQ(told, (std::vector<std::string>{"connection_lost", "connection_restored",
                                              "registrations_restored"}));
}

TEST(StreamEntry, AQuoteGoesOutAsOneXaddWithTheRecordByteForByte) {
    capture::capture_record record;
    record.receive_ns = 1717300000123456789;
    record.exchange_code = 'S';
    record.quote = sim::make_quote("cu2506", 7);
    // Bytes the protocol uses itself, inside the binary record.
    std::memcpy(&record.quote.MarketValue1, "\r\n$3\r\n*1", 8);
    capture::capture_record unterminated = record;
    std::memset(unterminated.quote.Symbol, 'x', sizeof unterminated.quote.Symbol);

    std::string out;
    append_quote_entry(out, {"orvq", 0}, record);
    append_quote_entry(out, {"p", 5000}, unterminated);
    append_event_entry(out, {"p", 5000},
                       {"redis_restored", 42, "back", {{"lost", 17}, {"published", 0}}});
    const auto commands = read_commands(out);
    ASSERT_EQ(commands.size(), 3u);

    const std::string bytes(reinterpret_cast<const char*>(&record.quote), sizeof record.quote);
    EXPECT_EQ(commands[0], (std::vector<std::string>{"XADD", "orvq:q:cu2506", "*", "quote", bytes,
                                                     "exchange", "S", "symbol", "cu2506", "recv_ns",
                                                     "1717300000123456789"}));
    const std::string x31(31, 'x');
    ASSERT_EQ(commands[1].size(), 14u);
    EXPECT_EQ(std::vector<std::string>(commands[1].begin(), commands[1].begin() + 6),
              (std::vector<std::string>{"XADD", "p:q:" + x31, "MAXLEN", "~", "5000", "*"}));
    EXPECT_EQ(commands[1][11], x31);
    EXPECT_EQ(commands[2],
              (std::vector<std::string>{"XADD", "p:events", "MAXLEN", "~", "5000", "*", "event",
                                        "redis_restored", "time_ns", "42", "text", "back", "lost",
                                        "17", "published", "0"}));
}

TEST(BridgeOptions, ValuesAreCheckedAndThePasswordComesFromTheEnvironment) {
    const auto parse = [](std::vector<const char*> args, const char* password, bridge_options& o) {
        args.insert(args.begin(), "quote_bridge");
        return parse_bridge_options(static_cast<int>(args.size()), args.data(), password, o);
    };
    bridge_options o;
    EXPECT_EQ(parse({"--redis", "cache.local:6380", "--prefix", "desk1", "--maxlen", "100000",
                     "--queue", "500", "--status", "0", "--redis-user", "bridge", "cu2506"},
                    "s3cret", o),
              "");
    EXPECT_EQ(o.redis_address(), "cache.local:6380");
    EXPECT_EQ(o.prefix, "desk1");
    EXPECT_EQ(o.maxlen, 100000u);
    EXPECT_EQ(o.queue, 500u);
    EXPECT_EQ(o.status_every_s, 0);
    EXPECT_EQ(o.redis_password, "s3cret");
    EXPECT_EQ(o.session.symbols, std::vector<std::string>{"cu2506"});

    const std::pair<std::vector<const char*>, const char*> refused[] = {
        {{"--redis", ":6379", "--all"}, "--redis"},     {{"--redis", "h:0", "--all"}, "--redis"},
        {{"--maxlen", "-1", "--all"}, "--maxlen"},      {{"--queue", "0", "--all"}, "--queue"},
        {{"--prefix", "", "--all"}, "--prefix"},        {{"--status", "x", "--all"}, "--status"},
        {{"--redis-user", "u", "--all"}, "ORVQ_REDIS"}, {{"--all", "--prefix"}, "wants a value"},
        {{"--server", "1.2.3.4", "--all"}, "--server"}, {{}, "name the symbols"}};
    for (const auto& r : refused) {
        bridge_options bad;
        const std::string error = parse(r.first, nullptr, bad);
        EXPECT_NE(error.find(r.second), std::string::npos) << error;
    }
}
