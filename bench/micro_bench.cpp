// The small parts of the receive path and the tool library, timed with Google Benchmark.
// Each container benchmark has a std::unordered_map twin in the same run, so that the
// report can give map_str as a ratio against the standard library on this machine.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "client/coqc_tcp.h"
#include "net/stream_buffer.h"
#include "orv_quote_api.h"
#include "client/receive_path.h"
#include "protocol/wire.h"
#include "sim/sample_data.h"
#include "tools/map_str.h"
#include "tools/md5.h"

namespace {

using KESTRO::TOOLS::map_str;
using KESTRO::TOOLS::stream_buffer;

// ---- md5 ---------------------------------------------------------------------------------

void BM_md5_hex_32(benchmark::State& state) {
    const char password[] = "0123456789abcdef0123456789ABCDEF";  // 32 characters
    char out[33];
    for (auto _ : state) {
        KESTRO::TOOLS::md5_hex(password, 32, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_md5_hex_32);

// ---- map_str against std::unordered_map ---------------------------------------------------

// Symbol-like keys of 8 characters, short enough for std::string's inline storage, so the
// standard map is timed at its best: no allocation to build or compare a key.
std::vector<std::string> make_keys(std::size_t count) {
    std::vector<std::string> keys;
    keys.reserve(count);
    char text[16];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, "AU%06zu", i * 7919 % 1000000);
        keys.emplace_back(text);
    }
    return keys;
}

using str_map = map_str<int, 128>;
using std_map = std::unordered_map<std::string, int>;

// The client's own tables start from a hint of 111 buckets; so does this one.
constexpr std::uint64_t client_bucket_hint = 111;

void fill(str_map& map, const std::vector<std::string>& keys) {
    int value = 0;
    for (const std::string& key : keys) map.insert(key.c_str(), value++);
}

void fill(std_map& map, const std::vector<std::string>& keys) {
    int value = 0;
    for (const std::string& key : keys) map[key] = value++;
}

void BM_map_str_insert(benchmark::State& state) {
    const auto keys = make_keys(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        str_map map(client_bucket_hint);
        fill(map, keys);
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * keys.size()));
}

void BM_unordered_map_insert(benchmark::State& state) {
    const auto keys = make_keys(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std_map map;
        fill(map, keys);
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * keys.size()));
}

// Every key is looked up once per iteration, hits only, as the register path does.
void BM_map_str_contains(benchmark::State& state) {
    const auto keys = make_keys(static_cast<std::size_t>(state.range(0)));
    str_map map(client_bucket_hint);
    fill(map, keys);
    for (auto _ : state) {
        std::size_t found = 0;
        for (const std::string& key : keys) found += map.contains(key.c_str()) ? 1 : 0;
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * keys.size()));
}

void BM_unordered_map_contains(benchmark::State& state) {
    const auto keys = make_keys(static_cast<std::size_t>(state.range(0)));
    std_map map;
    fill(map, keys);
    for (auto _ : state) {
        std::size_t found = 0;
        for (const std::string& key : keys) found += map.count(key);
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * keys.size()));
}

// The caller of the client holds C texts, not std::string: a lookup from a char array has
// to build the key first. Timed separately so the cost of that step is visible.
void BM_unordered_map_contains_cstr(benchmark::State& state) {
    const auto keys = make_keys(static_cast<std::size_t>(state.range(0)));
    std_map map;
    fill(map, keys);
    for (auto _ : state) {
        std::size_t found = 0;
        for (const std::string& key : keys) found += map.count(std::string(key.c_str()));
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * keys.size()));
}

void BM_map_str_iterate(benchmark::State& state) {
    const auto keys = make_keys(static_cast<std::size_t>(state.range(0)));
    str_map map(client_bucket_hint);
    fill(map, keys);
    for (auto _ : state) {
        long sum = 0;
        for (auto it = map.begin(); it != map.end(); ++it) sum += it.value();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * keys.size()));
}

void BM_unordered_map_iterate(benchmark::State& state) {
    const auto keys = make_keys(static_cast<std::size_t>(state.range(0)));
    std_map map;
    fill(map, keys);
    for (auto _ : state) {
        long sum = 0;
        for (const auto& entry : map) sum += entry.second;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * keys.size()));
}

BENCHMARK(BM_map_str_insert)->Arg(100)->Arg(10000);
BENCHMARK(BM_unordered_map_insert)->Arg(100)->Arg(10000);
BENCHMARK(BM_map_str_contains)->Arg(100)->Arg(10000);
BENCHMARK(BM_unordered_map_contains)->Arg(100)->Arg(10000);
BENCHMARK(BM_unordered_map_contains_cstr)->Arg(100)->Arg(10000);
BENCHMARK(BM_map_str_iterate)->Arg(100)->Arg(10000);
BENCHMARK(BM_unordered_map_iterate)->Arg(100)->Arg(10000);

// ---- dispatch_msg over back-to-back quotes ------------------------------------------------

// Counts quotes and touches each record, as the cheapest real application would.
class counting_sink : public OrvQuoteEventSink {
public:
    void OnQuote(int, const OrvMarketDepthQuoteData* quote) override {
        ++quotes;
        last_value = quote->MarketValue1;
    }
    std::uint64_t quotes = 0;
    double last_value = 0;
};

// A client that has a sink but no connection: nothing listens on port 1, so ConnServer
// keeps the sink and fails, and the receive path can be fed bytes straight from memory.
struct dispatch_ready_client {
    dispatch_ready_client() {
        OqsTcpInfo server;
        std::snprintf(server.ServerIp, sizeof server.ServerIp, "%s", "127.0.0.1");
        server.ServerPort = 1;
        client.ConnServer(server, &sink);
    }
    counting_sink sink;
    Coqc_tcp client;
};

constexpr std::size_t quotes_per_buffer = 64;

std::vector<char> quote_buffer(const char* symbol) {
    std::vector<char> bytes(quotes_per_buffer * QUOTE_MSG_LEN);
    for (std::size_t i = 0; i < quotes_per_buffer; ++i) {
        oqs_quote_msg message;
        build_quote_msg(message, '2', sim::make_quote(symbol, static_cast<int>(i)));
        std::memcpy(bytes.data() + i * QUOTE_MSG_LEN, &message, QUOTE_MSG_LEN);
    }
    return bytes;
}

std::uint32_t dispatch_all(Coqc_tcp* client, std::vector<char>& bytes) {
    std::uint32_t position = 0;
    const auto length = static_cast<std::uint32_t>(bytes.size());
    while (position < length) {
        const std::uint32_t used =
            receive_path::dispatch_msg(client, bytes.data() + position, length - position);
        if (used == 0) break;
        position += used;
    }
    return position;
}

// A symbol without a display name: the quote goes to the sink untouched.
void BM_dispatch_quotes(benchmark::State& state) {
    dispatch_ready_client ready;
    auto bytes = quote_buffer("SIMA01");
    for (auto _ : state) benchmark::DoNotOptimize(dispatch_all(&ready.client, bytes));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * quotes_per_buffer));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_dispatch_quotes);

// A metal code ("1") that is rewritten to its display name in place. The translation leaves
// the rest of the field zero, so writing the code's two bytes back restores the message.
void BM_dispatch_quotes_translated(benchmark::State& state) {
    dispatch_ready_client ready;
    auto bytes = quote_buffer("1");
    const std::size_t symbol_at =
        offsetof(oqs_quote_msg, quote) + offsetof(OrvMarketDepthQuoteData, Symbol);
    for (auto _ : state) {
        for (std::size_t i = 0; i < quotes_per_buffer; ++i) {
            bytes[i * QUOTE_MSG_LEN + symbol_at] = '1';
            bytes[i * QUOTE_MSG_LEN + symbol_at + 1] = '\0';
        }
        benchmark::DoNotOptimize(dispatch_all(&ready.client, bytes));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * quotes_per_buffer));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_dispatch_quotes_translated);

// ---- stream_buffer and the transport hop --------------------------------------------------

constexpr std::size_t socket_chunk = 8192;  // what the receive thread receives at most per call

// The receive stream's cycle: one socket-sized chunk in, every whole quote out, the partial
// quote at the end kept in front for the next chunk.
void BM_stream_buffer_chunk_cycle(benchmark::State& state) {
    std::vector<char> chunk(socket_chunk, 'Q');
    stream_buffer stream(8192);
    for (auto _ : state) {
        stream.append(chunk.data(), chunk.size());
        while (stream.length() >= QUOTE_MSG_LEN) stream.consume(QUOTE_MSG_LEN);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * socket_chunk));
}
BENCHMARK(BM_stream_buffer_chunk_cycle);

// One quote in, the same quote out: the low-rate case where every receive holds one message.
void BM_stream_buffer_quote_cycle(benchmark::State& state) {
    std::vector<char> message(QUOTE_MSG_LEN, 'Q');
    stream_buffer stream(8192);
    for (auto _ : state) {
        stream.append(message.data(), message.size());
        stream.consume(QUOTE_MSG_LEN);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * QUOTE_MSG_LEN));
}
BENCHMARK(BM_stream_buffer_quote_cycle);

// The transport's own work per receive, without the system call: the socket receives straight
// into the stream's free room (a copy stands in for the system's), the bytes are committed,
// and the whole quotes consumed, the partial one at the end kept in front. Arg: bytes per
// receive.
void BM_transport_hop(benchmark::State& state) {
    const auto received = static_cast<std::size_t>(state.range(0));
    std::vector<char> bytes(received, 'Q');
    stream_buffer stream(8192);
    for (auto _ : state) {
        std::memcpy(stream.reserve(socket_chunk), bytes.data(), received);
        stream.commit(received);
        const std::size_t whole = stream.length() / QUOTE_MSG_LEN * QUOTE_MSG_LEN;
        stream.consume(whole);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * received));
}
BENCHMARK(BM_transport_hop)->Arg(QUOTE_MSG_LEN)->Arg(socket_chunk);

}  // namespace

BENCHMARK_MAIN();
