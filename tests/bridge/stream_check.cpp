// Test tool for the bridge's Redis tests (tests/bridge/bridge_redis_test.sh): reads what
// quote_bridge wrote back from Redis and holds it against the capture that was replayed.
//
//   stream_check equal PORT PREFIX CAPTURE    every symbol's stream holds that symbol's records
//                                             of the capture, byte for byte, in order, and no
//                                             other quote stream exists
//   stream_check within PORT PREFIX CAPTURE   every stream holds some of them, in order, none
//                                             twice (what survives a Redis restart); prints the
//                                             number of entries
//   stream_check group PORT KEY               two consumers of one group share the stream and
//                                             between them acknowledge every entry once
// Exit status 0 when it holds, 1 with the first difference on standard error.
#include <hiredis/hiredis.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "apps/stream_entry.h"
#include "capture/capture_reader.h"

namespace {

using reply_ptr = std::unique_ptr<redisReply, void (*)(void*)>;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "stream_check: %s\n", why.c_str());
    std::exit(1);
}

reply_ptr command(redisContext* redis, const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    std::vector<std::size_t> lengths;
    for (const std::string& a : args) {
        argv.push_back(a.data());
        lengths.push_back(a.size());
    }
    void* raw = redisCommandArgv(redis, static_cast<int>(args.size()), argv.data(), lengths.data());
    if (raw == nullptr) fail(args[0] + ": " + redis->errstr);
    reply_ptr reply(static_cast<redisReply*>(raw), freeReplyObject);
    if (reply->type == REDIS_REPLY_ERROR) fail(args[0] + ": " + reply->str);
    return reply;
}

redisContext* connect(int port) {
    redisContext* redis = redisConnect("127.0.0.1", port);
    if (redis == nullptr || redis->err != 0) fail("cannot connect to Redis");
    return redis;
}

std::string text(const redisReply* r) {
    return std::string(r->str, r->len);
}

// One stream entry: its id and fields.
struct entry {
    std::string id;
    std::map<std::string, std::string> fields;
};

entry read_entry(const redisReply* r) {
    entry e{text(r->element[0]), {}};
    const redisReply* fields = r->element[1];
    for (std::size_t i = 0; i + 1 < fields->elements; i += 2) {
        e.fields[text(fields->element[i])] = text(fields->element[i + 1]);
    }
    return e;
}

// The whole stream, in pages.
std::vector<entry> read_stream(redisContext* redis, const std::string& key) {
    std::vector<entry> all;
    std::string from = "-";
    for (;;) {
        const reply_ptr page = command(redis, {"XRANGE", key, from, "+", "COUNT", "1000"});
        for (std::size_t i = 0; i < page->elements; ++i)
            all.push_back(read_entry(page->element[i]));
        if (page->elements < 1000) return all;
        from = "(" + all.back().id;
    }
}

// The capture's records, per symbol, in order.
std::map<std::string, std::vector<capture::capture_record>> read_capture(const std::string& path) {
    capture::capture_reader reader;
    if (!reader.open(path)) fail(reader.error());
    std::map<std::string, std::vector<capture::capture_record>> per_symbol;
    capture::capture_record r;
    while (reader.next(r)) per_symbol[capture::symbol_of(r.quote)].push_back(r);
    return per_symbol;
}

bool same(const entry& e, const capture::capture_record& r, const std::string& symbol) {
    const auto field = [&](const char* name) {
        const auto it = e.fields.find(name);
        return it == e.fields.end() ? std::string("(none)") : it->second;
    };
    return e.fields.size() == 4 &&
           field(field_quote) ==
               std::string(reinterpret_cast<const char*>(&r.quote), sizeof r.quote) &&
           field(field_exchange) == std::string(1, r.exchange_code) &&
           field(field_symbol) == symbol &&
           std::strtoll(field(field_receive).c_str(), nullptr, 10) > 0;
}

// Compares every stream with the capture: whole (equal) or a part of it in order (within).
int check_streams(int port, const std::string& prefix, const std::string& path, bool whole) {
    redisContext* redis = connect(port);
    const auto capture = read_capture(path);
    std::set<std::string> keys;
    const reply_ptr found = command(redis, {"KEYS", prefix + quote_key_infix + "*"});
    for (std::size_t i = 0; i < found->elements; ++i) keys.insert(text(found->element[i]));
    std::size_t entries = 0;
    for (const auto& symbol : capture) {
        const std::string key = prefix + quote_key_infix + symbol.first;
        keys.erase(key);
        const std::vector<entry> stream = read_stream(redis, key);
        const std::vector<capture::capture_record>& records = symbol.second;
        if (whole && stream.size() != records.size()) {
            fail(key + ": " + std::to_string(stream.size()) + " entries, the capture has " +
                 std::to_string(records.size()));
        }
        // Each entry is the next equal record of the capture; in `whole` the very next.
        std::size_t at = 0;
        for (const entry& e : stream) {
            while (!whole && at < records.size() && !same(e, records[at], symbol.first)) ++at;
            if (at >= records.size() || !same(e, records[at], symbol.first)) {
                fail(key + ": entry " + e.id + " is not the capture's next record");
            }
            ++at;
        }
        entries += stream.size();
    }
    if (!keys.empty()) fail("a stream the capture has no quotes for: " + *keys.begin());
    redisFree(redis);
    std::printf("%zu entries in %zu streams %s the capture\n", entries, capture.size(),
                whole ? "equal" : "are in");
    return 0;
}

// Two consumers in one group take turns reading 7 entries at a time and acknowledge what they
// read; the second also dies once holding entries unacknowledged, which the first then claims.
int check_group(int port, const std::string& key) {
    redisContext* redis = connect(port);
    const std::vector<entry> stream = read_stream(redis, key);
    if (stream.size() < 30) fail(key + ": too few entries for the test");
    command(redis, {"XGROUP", "CREATE", key, "readers", "0"});
    std::map<std::string, int> acked;  // id -> times
    std::map<std::string, int> per_consumer;
    const auto ack = [&](const std::string& consumer, const std::string& id) {
        const reply_ptr r = command(redis, {"XACK", key, "readers", id});
        if (r->integer == 1) ++acked[id];
        ++per_consumer[consumer];
    };
    bool died = false;
    for (int turn = 0;; ++turn) {
        const std::string consumer = turn % 2 == 0 ? "a" : "b";
        const reply_ptr r = command(
            redis, {"XREADGROUP", "GROUP", "readers", consumer, "COUNT", "7", "STREAMS", key, ">"});
        if (r->type == REDIS_REPLY_NIL) break;
        const redisReply* entries = r->element[0]->element[1];
        for (std::size_t i = 0; i < entries->elements; ++i) {
            const std::string id = text(entries->element[i]->element[0]);
            if (consumer == "b" && !died) continue;  // b dies holding its first read
            ack(consumer, id);
        }
        if (consumer == "b") died = true;
    }
    // What b held is pending; a claims it and acknowledges.
    const reply_ptr claimed =
        command(redis, {"XAUTOCLAIM", key, "readers", "a", "0", "0-0", "COUNT", "100"});
    const redisReply* held = claimed->element[1];
    if (held->elements == 0) fail("nothing was pending after b died");
    for (std::size_t i = 0; i < held->elements; ++i) ack("a", text(held->element[i]->element[0]));
    const reply_ptr pending = command(redis, {"XPENDING", key, "readers"});
    if (pending->element[0]->integer != 0) fail("entries still pending");
    for (const entry& e : stream) {
        if (acked[e.id] != 1)
            fail(e.id + " acknowledged " + std::to_string(acked[e.id]) + " times");
    }
    if (acked.size() != stream.size()) fail("acknowledged an entry the stream does not hold");
    redisFree(redis);
    std::printf("%zu entries acknowledged once each: a %d, b %d (%zu claimed from b)\n",
                stream.size(), per_consumer["a"], per_consumer["b"], held->elements);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && (args[0] == "equal" || args[0] == "within")) {
        return check_streams(std::atoi(args[1].c_str()), args[2], args[3], args[0] == "equal");
    }
    if (args.size() == 3 && args[0] == "group")
        return check_group(std::atoi(args[1].c_str()), args[2]);
    std::fputs("usage: stream_check (equal|within) PORT PREFIX CAPTURE | group PORT KEY\n", stderr);
    return 2;
}
