// Fuzzes the client's receive path as the transport drives it: arbitrary server bytes, cut
// into arbitrary deliveries of one stream of unconsumed bytes. However the bytes are cut, the
// application must see what it sees when they arrive in one piece, every text it gets must be
// terminated within its bound, and every quote must point into the bytes being delivered.
//
// Input: byte 0 selects the state (0x93: no worker yet, so the first accepted login starts the
// stand-in worker and refusals are taken as the application's, each of which waits 5 ms, so
// they stay rare; anything else: a worker runs, every login answer belongs to a relogin);
// byte 1 holds the number k of cut codes (value % 16), then k cut codes (delivery c takes
// 3 * code + 1 bytes), then the payload; what the cuts leave is one last delivery.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "support/client_probe.h"

namespace {

constexpr std::size_t log_line_limit = 1024;
constexpr std::size_t text_limit = 32;

const char* g_delivery = nullptr;  // the stream offered right now
std::size_t g_delivery_length = 0;

class checking_sink : public OrvQuoteEventSink {
public:
    std::string seen;  // every call but the log lines, in order

    void OnServerDisconnected() override { seen += "D|"; }
    void OnLoginReply(bool success, const char* text) override { call('L', success, text); }
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override {
        const char* begin = reinterpret_cast<const char*>(quote);
        FUZZ_CHECK(begin >= g_delivery && begin + sizeof *quote <= g_delivery + g_delivery_length);
        seen += "Q" + std::to_string(exchange_code) + std::string(begin, sizeof *quote) + "|";
    }
    void OnLogText(int level, const char* text, int length) override {
        FUZZ_CHECK(level == 0 || level == 1 || level == 3);
        FUZZ_CHECK(strnlen(text, log_line_limit) == static_cast<std::size_t>(length));
        seen += std::string("T") + text + "|";
    }
    void OnRegisterReply(int code, const char* symbol, bool success) override {
        call('R', success, symbol, code);
    }
    void OnUnregisterReply(int code, const char* symbol, bool success) override {
        call('U', success, symbol, code);
    }

private:
    void call(char kind, bool success, const char* text, int code = 0) {
        FUZZ_CHECK(text != nullptr && strnlen(text, text_limit) < text_limit);
        seen += std::string(1, kind) + (success ? "+" : "-") + std::to_string(code) + text + "|";
    }
};

std::string run(const std::string& payload, const std::vector<std::size_t>& lengths, bool worker,
                std::string* tables) {
    checking_sink sink;
    Coqc_tcp client;
    coqc_tcp_probe::attach(client, &sink);
    coqc_tcp_probe::set_worker_flag(client, worker);
    std::string stream;
    std::size_t next = 0;
    for (std::size_t length : lengths) {
        stream.append(payload, next, length);
        next += length;
        while (!stream.empty()) {
            g_delivery = stream.data();
            g_delivery_length = stream.size();
            socket_event event(EVENT_RECV, 0, stream.data(),
                               static_cast<std::uint32_t>(stream.size()), 0);
            FUZZ_CHECK(receive_path::on_cache_callback(&event, &client) == 0);
            const std::int32_t used = event.processed();
            FUZZ_CHECK(used >= 0 && static_cast<std::size_t>(used) <= stream.size());
            if (used == 0) break;
            stream.erase(0, static_cast<std::size_t>(used));
        }
    }
    for (auto& entry : coqc_tcp_probe::valid(client)) {
        *tables += entry.first + "=" + std::to_string(entry.second) + ";";
    }
    for (auto& symbol : coqc_tcp_probe::registered(client)) *tables += "+" + symbol;
    *tables += std::to_string(coqc_tcp_probe::list_done(client)) +
               std::to_string(coqc_tcp_probe::relogin_result(client));
    coqc_tcp_probe::end_worker(client);
    return sink.seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool worker = data[0] != 0x93;
    std::size_t cut_count = data[1] % 16;
    if (size - 2 < cut_count) cut_count = size - 2;
    const std::string payload(reinterpret_cast<const char*>(data + 2 + cut_count),
                              size - 2 - cut_count);
    std::vector<std::size_t> lengths;
    std::size_t delivered = 0;
    for (std::size_t i = 0; i < cut_count && delivered < payload.size(); ++i) {
        const std::size_t length =
            std::min<std::size_t>(3u * data[2 + i] + 1, payload.size() - delivered);
        lengths.push_back(length);
        delivered += length;
    }
    if (delivered < payload.size()) lengths.push_back(payload.size() - delivered);

    std::string whole_tables, cut_tables;
    const std::string whole = run(payload, {payload.size()}, worker, &whole_tables);
    const std::string cut = run(payload, lengths, worker, &cut_tables);
    // An unknown type drops the delivery it arrives in, so only a stream without one has to
    // come out the same however it was cut.
    if (whole.find("receive unknown msg type") == std::string::npos &&
        cut.find("receive unknown msg type") == std::string::npos) {
        FUZZ_CHECK(whole == cut);
        FUZZ_CHECK(whole_tables == cut_tables);
    }
    return 0;
}
