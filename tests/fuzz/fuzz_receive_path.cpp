// Fuzzes the client's receive path the way the transport drives it: arbitrary bytes, cut
// into arbitrary deliveries, kept in one stream of unconsumed bytes that is offered again
// after every delivery and after every call that consumed something.
//
// Input layout:
//   byte 0      client state: value % 3 selects not connected / waiting for the symbol list /
//               logged in with registrations; only the value 0x93 (a not-connected state)
//               lets refused logins through: each one sleeps 5 ms, so they must stay rare
//   byte 1      number of cut codes k (value % 16)
//   k bytes     cut codes: 0..247 deliver 3 * code + 1 payload bytes, 248..255 raise a
//               connection event (code - 248) instead
//   the rest    the payload; whatever the cuts leave over is one last delivery
//
// Besides the sanitizers, a small model of the message cutting predicts every processed
// count, every application event and the symbol tables afterwards; the sink also checks that
// quotes point into the delivered bytes and that every text it gets is terminated.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "client/coqc_tcp.h"
#include "fuzz_check.h"
#include "net/socket_event.h"
#include "client/receive_path.h"
#include "protocol/wire.h"

// Reaches the client's tables and flags; declared a friend by Coqc_tcp.
struct coqc_tcp_probe {
    using locker = KESTRO::TOOLS::locker<KESTRO::TOOLS::critical_lock>;

    static void set_worker_flag(Coqc_tcp& c, bool on) { c.m_thread_is_running.store(on); }

    // Back to a client with empty tables and no pending answers; the sink and the server
    // address stay as ConnServer left them.
    static void reset(Coqc_tcp& c) {
        {
            locker guard(c.m_symbol_lock);
            c.m_valid_symbols.clear();
            c.m_wanted.clear();
            c.m_registered.clear();
        }
        {
            locker guard(c.m_queue_lock);
            c.m_send_queue.clear();
        }
        c.m_symbol_list_done.store(false);
        c.m_relogin_result.store(0);
        c.m_status.store(Coqc_tcp::STATUS_DISCONNECTED);
    }

    static void set_list_done(Coqc_tcp& c, bool done) { c.m_symbol_list_done.store(done); }
    static void set_status(Coqc_tcp& c, std::int32_t status) { c.m_status.store(status); }

    static void add_valid(Coqc_tcp& c, const char* symbol, int code) {
        locker guard(c.m_symbol_lock);
        c.m_valid_symbols.insert(symbol, code);
    }
    static void add_wanted(Coqc_tcp& c, char code, const char* symbol) {
        locker guard(c.m_symbol_lock);
        c.m_wanted.insert(symbol, oqs_symbol_info(code, symbol));
    }
    static void add_registered(Coqc_tcp& c, char code, const char* symbol) {
        locker guard(c.m_symbol_lock);
        c.m_registered.insert(symbol, oqs_symbol_info(code, symbol));
    }

    static std::map<std::string, int> valid(Coqc_tcp& c) {
        locker guard(c.m_symbol_lock);
        std::map<std::string, int> out;
        for (auto it = c.m_valid_symbols.begin(); it != c.m_valid_symbols.end(); ++it) {
            FUZZ_CHECK(out.emplace(it.key(), it.value()).second);  // keys are unique
        }
        FUZZ_CHECK(out.size() == c.m_valid_symbols.size());
        return out;
    }
    static std::map<std::string, std::string> registered(Coqc_tcp& c) {
        return symbol_table(c, c.m_registered);
    }
    static std::map<std::string, std::string> wanted(Coqc_tcp& c) {
        return symbol_table(c, c.m_wanted);
    }

    static bool list_done(Coqc_tcp& c) { return c.m_symbol_list_done.load(); }
    static int relogin_result(Coqc_tcp& c) { return c.m_relogin_result.load(); }
    static std::size_t reconnect_items(Coqc_tcp& c) {
        locker guard(c.m_queue_lock);
        std::size_t count = 0;
        for (const auto& item : c.m_send_queue) {
            FUZZ_CHECK(item->kind == oqc_data_and_event::KIND_RECONNECT);
            FUZZ_CHECK(item->data == nullptr && item->length == 0);
            ++count;
        }
        return count;
    }

private:
    // Key -> exchange code and symbol of the stored record, which must spell the key.
    static std::map<std::string, std::string> symbol_table(Coqc_tcp& c, Coqc_tcp::symbol_map& m) {
        locker guard(c.m_symbol_lock);
        std::map<std::string, std::string> out;
        for (auto it = m.begin(); it != m.end(); ++it) {
            const oqs_symbol_info& info = it.value();
            FUZZ_CHECK(strnlen(info.Symbol, sizeof info.Symbol) < sizeof info.Symbol);
            FUZZ_CHECK(std::strcmp(info.Symbol, it.key()) == 0);
            FUZZ_CHECK(out.emplace(it.key(), std::string(1, info.ExchangeCode) + info.Symbol)
                           .second);
        }
        FUZZ_CHECK(out.size() == m.size());
        return out;
    }
};

namespace {

constexpr std::uint8_t refusal_selector = 0x93;
static_assert(refusal_selector % 3 == 0, "refusals need the not-connected state");
constexpr std::size_t log_line_limit = 1024;
constexpr std::size_t symbol_limit = 32;
constexpr std::size_t login_text_limit = 23;
constexpr std::size_t quote_symbol_offset = offsetof(oqs_quote_msg, quote) +
                                            offsetof(OrvMarketDepthQuoteData, Symbol);

// One application event, as seen by the sink or as predicted by the model.
struct app_event {
    char kind;  // 'D' disconnected, 'L' login reply, 'Q' quote, 'R' register, 'U' unregister
    int code;
    bool success;
    std::string text;  // login text, symbol, or the quote record's 345 bytes

    bool operator==(const app_event& o) const {
        return kind == o.kind && code == o.code && success == o.success && text == o.text;
    }
};

// What the sink may accept: the bytes of the delivery being handled right now.
const char* g_delivery = nullptr;
std::size_t g_delivery_length = 0;
std::vector<app_event> g_events;

class checking_sink : public OrvQuoteEventSink {
public:
    void OnServerConnected() override { FUZZ_CHECK(!"nothing listens, no connection expected"); }
    void OnServerDisconnected() override { g_events.push_back({'D', 0, false, ""}); }
    void OnLoginReply(bool success, const char* text) override {
        FUZZ_CHECK(text != nullptr);
        FUZZ_CHECK(strnlen(text, login_text_limit) < login_text_limit);
        g_events.push_back({'L', 0, success, text});
    }
    void OnQuote(int exchange_code, const OrvMarketDepthQuoteData* quote) override {
        FUZZ_CHECK(quote != nullptr && g_delivery != nullptr);
        const char* begin = reinterpret_cast<const char*>(quote);
        FUZZ_CHECK(begin >= g_delivery);
        FUZZ_CHECK(begin + sizeof *quote <= g_delivery + g_delivery_length);
        g_events.push_back({'Q', exchange_code, false, std::string(begin, sizeof *quote)});
    }
    void OnLogText(int level, const char* text, int length) override {
        FUZZ_CHECK(level == 0 || level == 1 || level == 3);
        FUZZ_CHECK(text != nullptr);
        const std::size_t actual = strnlen(text, log_line_limit);
        FUZZ_CHECK(actual < log_line_limit);
        FUZZ_CHECK(length >= 0 && static_cast<std::size_t>(length) < log_line_limit);
        FUZZ_CHECK(static_cast<std::size_t>(length) == actual);
    }
    void OnRegisterReply(int exchange_code, const char* symbol, bool success) override {
        symbol_reply('R', exchange_code, symbol, success);
    }
    void OnUnregisterReply(int exchange_code, const char* symbol, bool success) override {
        symbol_reply('U', exchange_code, symbol, success);
    }
    void OnSymbolListReply(int, const char*, bool) override {
        FUZZ_CHECK(!"the symbol list is reported by the worker, which never runs here");
    }

private:
    static void symbol_reply(char kind, int exchange_code, const char* symbol, bool success) {
        FUZZ_CHECK(symbol != nullptr);
        FUZZ_CHECK(strnlen(symbol, symbol_limit) < symbol_limit);
        g_events.push_back({kind, exchange_code, success, symbol});
    }
};

checking_sink g_sink;

// The one client of the process: ConnServer is slow (it starts and stops a transport), so it
// runs once, and every input starts from probe-reset tables instead. The worker flag is
// cleared before the client goes, else its destructor would wait for a worker that never was.
struct client_holder {
    Coqc_tcp* client;
    client_holder() : client(new Coqc_tcp()) {
        OqsTcpInfo nowhere;
        std::strcpy(nowhere.ServerIp, "127.0.0.1");
        nowhere.ServerPort = 1;
        FUZZ_CHECK(!client->ConnServer(nowhere, &g_sink));
    }
    ~client_holder() {
        coqc_tcp_probe::set_worker_flag(*client, false);
        delete client;
    }
};

Coqc_tcp& the_client() {
    static client_holder holder;
    return *holder.client;
}

enum client_state { STATE_PLAIN = 0, STATE_WAITING_LIST = 1, STATE_LOGGED_IN = 2 };

int exchange_of(char code) { return static_cast<int>(static_cast<signed char>(code)); }

// A terminated copy of a received text field: up to its first NUL, never past its width.
std::string field_text(const char* field, std::size_t width) {
    return std::string(field, strnlen(field, width));
}

const char* display_name(char first) {
    static const char* const names[] = {"Au(T+D)", "Ag(T+D)", "mAu(T+D)", "Au(T+N1)", "Au(T+N2)"};
    return first >= '0' && first <= '4' ? names[first - '0'] : nullptr;
}

std::uint32_t model_length(char type) {
    switch (type) {
        case 'A': return 24;
        case 'F': case 'I': case 'M': return 32;
        case 'H': return 13;
        case 'Q': return 367;
        default: return 0;
    }
}

// One step of the input: a delivery of payload bytes or a connection event.
struct step {
    bool is_event;
    std::uint32_t event;
    std::size_t length;
};

// The model: what the client must do with the payload under these steps.
struct model {
    explicit model(bool worker_running) : worker(worker_running) {}

    bool worker;
    std::vector<std::int32_t> processed;  // one per callback with received bytes
    std::vector<app_event> events;
    std::vector<std::size_t> logins;      // payload offsets of every handled 'A'
    std::map<std::string, int> valid;
    std::map<std::string, std::string> registered;
    bool list_done = false;
    int relogin = 0;
    std::size_t reconnects = 0;

    void add_registered(char code, const std::string& symbol) {
        const std::string key = symbol.substr(0, 19);  // the record keeps 19 characters
        registered[key] = std::string(1, code) + key;
    }

    void connection_event(std::uint32_t code) {
        if (code == EVENT_LOCALE_DISCONNECT) events.push_back({'D', 0, false, ""});
        if (code == EVENT_REMOTE_DISCONNECT || code == EVENT_ERROR) {
            if (worker) {
                ++reconnects;
            } else {
                events.push_back({'D', 0, false, ""});
            }
        }
    }

    void message(const char* m, std::size_t offset) {
        switch (m[0]) {
            case 'A':
                logins.push_back(offset);
                if (worker) {
                    relogin = m[1] == 'Y' ? 1 : -1;
                } else {
                    FUZZ_CHECK(m[1] != 'Y');  // the harness never starts a real worker
                    events.push_back({'L', 0, false, field_text(m + 2, 22)});
                    events.push_back({'D', 0, false, ""});
                }
                break;
            case 'M':
                if (m[2] == '1') {
                    list_done = true;
                } else {
                    valid[field_text(m + 4, 28)] = exchange_of(m[3]);
                }
                break;
            case 'I':
            case 'F': {
                const std::string symbol = field_text(m + 4, 20);
                const bool success = m[1] == '0' || (m[0] == 'I' && m[1] == '2');
                if (success && m[0] == 'I') add_registered(m[3], symbol);
                if (success && m[0] == 'F') registered.erase(symbol.substr(0, 19));
                const char* name = display_name(symbol.empty() ? '\0' : symbol[0]);
                events.push_back({m[0] == 'I' ? 'R' : 'U', exchange_of(m[3]), success,
                                  name != nullptr ? name : symbol});
                break;
            }
            case 'Q': {
                std::string record(m + offsetof(oqs_quote_msg, quote),
                                   sizeof(OrvMarketDepthQuoteData));
                if (const char* name = display_name(m[quote_symbol_offset])) {
                    const std::size_t at = offsetof(OrvMarketDepthQuoteData, Symbol);
                    const std::size_t width = sizeof(OrvMarketDepthQuoteData::Symbol);
                    record.replace(at, width, std::string(name).append(width - strlen(name), '\0'));
                }
                events.push_back({'Q', exchange_of(m[1]), false, record});
                break;
            }
            default:
                break;
        }
    }

    // The transport's loop over the payload: [begin, end) is the unconsumed stream.
    void run(const std::string& payload, const std::vector<step>& steps) {
        std::size_t begin = 0;
        std::size_t end = 0;
        for (const step& s : steps) {
            if (s.is_event) {
                connection_event(s.event);
                continue;
            }
            end += s.length;
            while (begin < end) {
                std::size_t position = begin;
                while (position < end) {
                    const std::uint32_t need = model_length(payload[position]);
                    if (need == 0) {
                        position = end;  // an unknown type drops everything received
                        break;
                    }
                    if (end - position < need) break;
                    message(payload.data() + position, position);
                    position += need;
                }
                processed.push_back(static_cast<std::int32_t>(position - begin));
                if (position == begin) break;
                begin = position;
            }
        }
    }
};

void prepare(Coqc_tcp& client, client_state state, bool worker) {
    coqc_tcp_probe::reset(client);
    coqc_tcp_probe::set_worker_flag(client, worker);
    if (state == STATE_WAITING_LIST) coqc_tcp_probe::set_status(client, Coqc_tcp::STATUS_CONNECTED);
    if (state != STATE_LOGGED_IN) return;
    coqc_tcp_probe::set_status(client, Coqc_tcp::STATUS_LOGGED_IN);
    coqc_tcp_probe::set_list_done(client, true);
    coqc_tcp_probe::add_valid(client, "0", 'G');
    coqc_tcp_probe::add_valid(client, "1", 'G');
    coqc_tcp_probe::add_valid(client, "IF2612", 'C');
    coqc_tcp_probe::add_valid(client, "AU9999", 'S');
    coqc_tcp_probe::add_valid(client, "ABCDEFGHIJKLMNOPQRS", -112);
    coqc_tcp_probe::add_wanted(client, 'G', "1");
    coqc_tcp_probe::add_wanted(client, 'C', "IF2612");
    coqc_tcp_probe::add_registered(client, 'G', "1");
    coqc_tcp_probe::add_registered(client, 'S', "AU9999");
    coqc_tcp_probe::add_registered(client, '\x90', "ABCDEFGHIJKLMNOPQRS");
}

// Offers the unconsumed stream until the client consumes nothing or nothing is left, and
// returns every processed count it reported.
void offer(Coqc_tcp& client, std::string& stream, std::vector<std::int32_t>& processed) {
    while (!stream.empty()) {
        g_delivery = stream.data();
        g_delivery_length = stream.size();
        socket_event event(EVENT_RECV, 0, stream.data(), static_cast<std::uint32_t>(stream.size()),
                           0);
        FUZZ_CHECK(receive_path::on_cache_callback(&event, &client) == 0);
        g_delivery = nullptr;
        g_delivery_length = 0;
        const std::int32_t used = event.processed();
        FUZZ_CHECK(used >= 0);
        FUZZ_CHECK(static_cast<std::size_t>(used) <= stream.size());
        processed.push_back(used);
        if (used == 0) return;
        stream.erase(0, static_cast<std::size_t>(used));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    Coqc_tcp& client = the_client();

    const auto state = static_cast<client_state>(data[0] % 3);
    const bool refusals_allowed = data[0] == refusal_selector;
    std::size_t cut_count = data[1] % 16;
    std::size_t at = 2;
    if (size - at < cut_count) cut_count = size - at;
    const std::uint8_t* cuts = data + at;
    at += cut_count;
    std::string payload(reinterpret_cast<const char*>(data + at), size - at);

    std::vector<step> steps;
    std::size_t delivered = 0;
    for (std::size_t i = 0; i < cut_count; ++i) {
        if (cuts[i] >= 248) {
            steps.push_back({true, static_cast<std::uint32_t>(cuts[i] - 248), 0});
            continue;
        }
        const std::size_t length =
            std::min<std::size_t>(3u * cuts[i] + 1, payload.size() - delivered);
        if (length == 0) continue;
        steps.push_back({false, 0, length});
        delivered += length;
    }
    if (delivered < payload.size()) steps.push_back({false, 0, payload.size() - delivered});

    // A login answer with no worker running and result 'Y' would start the real worker; the
    // not-connected state therefore sees every login answer refused, and only rarely at all
    // (a refusal sleeps 5 ms): otherwise it runs with the worker flag set.
    model cutting(true);
    cutting.run(payload, steps);
    bool worker = state != STATE_PLAIN;
    if (state == STATE_PLAIN) {
        worker = !cutting.logins.empty() && (!refusals_allowed || cutting.logins.size() > 2);
        if (!worker) {
            for (std::size_t offset : cutting.logins) {
                if (payload[offset + 1] == 'Y') payload[offset + 1] = 'N';
            }
        }
    }

    prepare(client, state, worker);
    model expected(worker);
    expected.valid = coqc_tcp_probe::valid(client);
    expected.registered = coqc_tcp_probe::registered(client);
    expected.list_done = coqc_tcp_probe::list_done(client);
    const auto wanted_before = coqc_tcp_probe::wanted(client);
    expected.run(payload, steps);

    g_events.clear();
    std::vector<std::int32_t> processed;
    std::string stream;
    std::size_t next = 0;
    for (const step& s : steps) {
        if (s.is_event) {
            socket_event event(s.event, 0, nullptr, 0, 0);
            FUZZ_CHECK(receive_path::on_cache_callback(&event, &client) == 0);
            continue;
        }
        stream.append(payload, next, s.length);
        next += s.length;
        offer(client, stream, processed);
    }

    FUZZ_CHECK(processed == expected.processed);
    FUZZ_CHECK(g_events.size() == expected.events.size());
    for (std::size_t i = 0; i < g_events.size(); ++i) {
        FUZZ_CHECK(g_events[i] == expected.events[i]);
    }
    FUZZ_CHECK(coqc_tcp_probe::valid(client) == expected.valid);
    FUZZ_CHECK(coqc_tcp_probe::registered(client) == expected.registered);
    FUZZ_CHECK(coqc_tcp_probe::wanted(client) == wanted_before);  // never written here
    FUZZ_CHECK(coqc_tcp_probe::list_done(client) == expected.list_done);
    FUZZ_CHECK(coqc_tcp_probe::relogin_result(client) == expected.relogin);
    FUZZ_CHECK(coqc_tcp_probe::reconnect_items(client) == expected.reconnects);
    return 0;
}
