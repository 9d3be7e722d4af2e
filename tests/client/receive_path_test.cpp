// The receive half of the client fed from byte arrays, without a socket and without a worker:
// a recorded exchange cut at every offset must give the same events as the whole of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "support/client_probe.h"
#include "support/recording_sink.h"

namespace {

template <class Message>
std::string bytes_of(const Message& message) {
    return std::string(reinterpret_cast<const char*>(&message), sizeof message);
}
std::string login(char result, const char* text) {
    oqs_login_resp m;
    build_login_resp(m, result, text);
    return bytes_of(m);
}
std::string symbol(char exchange, const char* text, bool end = false) {
    oqs_symbol_resp m;
    build_symbol_resp(m, end, exchange, text);
    return bytes_of(m);
}
std::string reply(char type, char result, char exchange, const char* text) {
    oqs_reg_symbol_resp m;
    build_symbol_reply(m, type, result, exchange, text);
    return bytes_of(m);
}
std::string quote(char exchange, const char* text, char tail = 0) {
    OrvMarketDepthQuoteData record{};
    std::strcpy(record.TradingDay, "20261205");
    std::memset(record.Symbol, tail, sizeof record.Symbol - 1);
    std::memcpy(record.Symbol, text, std::strlen(text) + 1);
    record.MarketValue1 = 4321.5;
    oqs_quote_msg m;
    build_quote_msg(m, exchange, record);
    return bytes_of(m);
}
std::string heartbeat() {
    oqs_heartbeat m;
    build_heartbeat(m, 1700000000);
    return bytes_of(m);
}

const std::string long_symbol(19, 'S');

// A message whose bytes from `from` on are all `fill`: texts without a terminator.
std::string filled(std::string message, std::size_t from, char fill) {
    std::fill(message.begin() + static_cast<std::ptrdiff_t>(from), message.end(), fill);
    return message;
}
OrvMarketDepthQuoteData full_record() {
    OrvMarketDepthQuoteData record{};
    std::memset(record.TradingDay, '9', sizeof record.TradingDay);
    std::memset(record.Symbol, 'q', sizeof record.Symbol);
    std::memset(record.ExchangeName, 'e', sizeof record.ExchangeName);
    std::memset(record.ExchangeSymbol, 's', sizeof record.ExchangeSymbol);
    std::memset(record.TimeText, 't', sizeof record.TimeText);
    return record;
}
std::string full_quote() {
    oqs_quote_msg m;
    build_quote_msg(m, '2', full_record());
    std::memset(m.unused, 'u', sizeof m.unused);
    return bytes_of(m);
}

// A session as a server sends it: the login answer, the symbol list, replies of every kind
// (refusals included), a heartbeat and quotes whose symbols the library translates; texts that
// fill their fields without a terminator in an entry, a reply and a quote.
std::string recorded_exchange() {
    return login('Y', "") + symbol('G', "1") + symbol('F', "cu2701") +
           symbol(static_cast<char>(0x90), long_symbol.c_str()) + filled(symbol('2', ""), 4, 'y') +
           symbol('Z', "IGNORED", true) + reply('I', '2', 'G', "1") +
           reply('I', '7', 'F', "cu2701") + reply('F', '0', 'F', "never") +
           reply('F', '2', 'G', "1") + filled(reply('I', '0', '2', ""), 4, 'z') + heartbeat() +
           quote('B', "1") + quote(static_cast<char>(0x80), "3", 'x') + quote('A', "cu2701") +
           full_quote();
}

struct outcome {
    std::vector<sink_event> events;
    std::map<std::string, int> valid;
    std::vector<std::string> registered;
    bool list_done = false;
    int worker_starts = 0;
};

// Feeds the exchange cut at the given offsets to a fresh client.
outcome run(const std::string& exchange, const std::vector<std::size_t>& cuts) {
    recording_sink sink;
    auto client = std::make_unique<Coqc_tcp>();
    coqc_tcp_probe::attach(*client, &sink);
    const int starts_before = coqc_tcp_probe::worker_starts().load();
    stream_feeder feeder(*client);
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        feeder.deliver(exchange.data() + from, cut - from);
        from = cut;
    }
    feeder.deliver(exchange.data() + from, exchange.size() - from);
    EXPECT_EQ(feeder.pending(), 0u);
    outcome out{sink.events(), coqc_tcp_probe::valid(*client), coqc_tcp_probe::registered(*client),
                coqc_tcp_probe::list_done(*client), 0};
    coqc_tcp_probe::end_worker(*client);
    client.reset();  // joins the stand-in's thread
    out.worker_starts = coqc_tcp_probe::worker_starts().load() - starts_before;
    return out;
}

void expect_same(const outcome& a, const outcome& b) {
    ASSERT_EQ(a.events.size(), b.events.size());
    for (std::size_t i = 0; i < a.events.size(); ++i) {
        EXPECT_EQ(a.events[i].kind, b.events[i].kind) << i;
        EXPECT_EQ(a.events[i].code, b.events[i].code) << i;
        EXPECT_EQ(a.events[i].text, b.events[i].text) << i;
        EXPECT_EQ(a.events[i].flag, b.events[i].flag) << i;
        EXPECT_EQ(std::memcmp(&a.events[i].quote, &b.events[i].quote, sizeof a.events[i].quote), 0)
            << i;
    }
    EXPECT_EQ(a.valid, b.valid);
    EXPECT_EQ(a.registered, b.registered);
    EXPECT_EQ(a.list_done, b.list_done);
    EXPECT_EQ(a.worker_starts, b.worker_starts);
}

std::vector<sink_event> calls_of(const std::vector<sink_event>& events) {
    std::vector<sink_event> out;
    for (auto& e : events) {
        if (e.kind != sink_event::LOG) out.push_back(e);
    }
    return out;
}

TEST(receive_path, recorded_exchange_whole_and_cut_at_every_offset) {
    const std::string exchange = recorded_exchange();
    const outcome whole = run(exchange, {});
    EXPECT_EQ(whole.worker_starts, 1);  // the accepted login starts the worker, once
    EXPECT_TRUE(whole.list_done);
    EXPECT_EQ(whole.valid,
              (std::map<std::string, int>{
                  {"1", 'G'}, {"cu2701", 'F'}, {long_symbol, -112}, {std::string(28, 'y'), '2'}}));
    // '2' registers and '7' refuses; a full symbol is kept cut to 19 characters.
    EXPECT_EQ(whole.registered, (std::vector<std::string>{"1", std::string(19, 'z')}));
    const auto calls = calls_of(whole.events);
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(calls[0].kind, sink_event::REGISTER);
    EXPECT_EQ(calls[0].text, "Ag(T+D)");
    EXPECT_TRUE(calls[0].flag);
    EXPECT_EQ(calls[1].text, "cu2701");
    EXPECT_FALSE(calls[1].flag);
    EXPECT_EQ(calls[2].kind, sink_event::UNREGISTER);
    EXPECT_TRUE(calls[2].flag);   // absent symbol, result '0': still a success
    EXPECT_FALSE(calls[3].flag);  // '2' counts as refused for an unregister
    EXPECT_EQ(calls[3].text, "Ag(T+D)");
    EXPECT_EQ(calls[4].text, std::string(20, 'z'));  // a full field, handed over terminated
    EXPECT_EQ(calls[5].kind, sink_event::QUOTE);
    EXPECT_EQ(calls[5].code, 'B');
    EXPECT_EQ(std::string(calls[5].quote.Symbol), "Ag(T+D)");
    const double value = calls[5].quote.MarketValue1;  // packed: no reference to the field
    EXPECT_EQ(value, 4321.5);
    // A high exchange byte arrives negative; a translated symbol is zero-filled to its end.
    EXPECT_EQ(calls[6].code, -128);
    const OrvMarketDepthQuoteData& translated = calls[6].quote;
    EXPECT_EQ(std::string(translated.Symbol), "Au(T+N1)");
    for (std::size_t i = std::strlen("Au(T+N1)"); i < sizeof translated.Symbol; ++i) {
        EXPECT_EQ(translated.Symbol[i], 0) << "byte " << i;
    }
    EXPECT_EQ(std::string(calls[7].quote.Symbol), "cu2701");
    const OrvMarketDepthQuoteData full = full_record();  // passes through byte for byte
    EXPECT_EQ(std::memcmp(&calls[8].quote, &full, sizeof full), 0);
    std::vector<std::string> lines;
    for (auto& e : whole.events) {
        if (e.kind == sink_event::LOG) lines.push_back(e.text);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "[QuoteClient] on_login_resp,thread_is_running:0, result: Y,  server "
                         "ip: , port: 0.",
                         "[QuoteClient] register symbol:F:cu2701 failed.",
                         "[QuoteClient] unregister symbol:1 failed."}));

    for (std::size_t cut = 1; cut < exchange.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        expect_same(whole, run(exchange, {cut}));
        if (HasFailure()) return;
    }
    std::vector<std::size_t> every_byte;
    for (std::size_t cut = 1; cut < exchange.size(); ++cut) every_byte.push_back(cut);
    expect_same(whole, run(exchange, every_byte));
}

// An unknown type byte drops everything delivered with it, whole messages behind it included.
TEST(receive_path, unknown_types_drop_the_delivery) {
    recording_sink sink;
    Coqc_tcp client;
    coqc_tcp_probe::attach(client, &sink);
    stream_feeder feeder(client);
    feeder.deliver("X" + quote('A', "cu2701"));
    feeder.deliver(std::string{static_cast<char>(200), 'Q'});
    feeder.deliver(std::string{'L'} + quote('A', "cu2701"));  // a request type from a server
    EXPECT_EQ(feeder.pending(), 0u);
    EXPECT_EQ(sink.count(sink_event::QUOTE), 0u);
    EXPECT_TRUE(sink.has_log("[QuoteClient] receive unknown msg type: 88. length is 368"));
    EXPECT_TRUE(sink.has_log("[QuoteClient] receive unknown msg type: -56. length is 2"));
    EXPECT_TRUE(sink.has_log("[QuoteClient] receive unknown msg type: 76. length is 368"));
}

TEST(receive_path, connection_events_and_login_answers_follow_the_worker) {
    recording_sink sink;
    Coqc_tcp client;
    coqc_tcp_probe::attach(client, &sink);
    stream_feeder feeder(client);
    // No worker: a lost connection is reported at once.
    feeder.raise(EVENT_REMOTE_DISCONNECT);
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 1u);
    EXPECT_TRUE(sink.has_log("[on_cache_callback] EVENT_REMOTE_DISCONNECT,thd_is_run:0"));
    EXPECT_TRUE(coqc_tcp_probe::queued_kinds(client).empty());

    // While a worker runs, a loss becomes a reconnect request, and every login answer belongs
    // to its relogin; the application hears of neither.
    coqc_tcp_probe::set_worker_flag(client, true);
    feeder.raise(EVENT_ERROR);
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 1u);
    EXPECT_EQ(coqc_tcp_probe::queued_kinds(client), std::vector<int>{1});
    EXPECT_TRUE(coqc_tcp_probe::link_lost(client));
    feeder.deliver(login('Y', ""));
    EXPECT_EQ(coqc_tcp_probe::relogin_result(client), 1);
    feeder.deliver(login('N', "no"));
    EXPECT_EQ(coqc_tcp_probe::relogin_result(client), -1);
    feeder.deliver(login('\0', ""));  // a result byte of 0 ends the log line's text early
    EXPECT_EQ(sink.count(sink_event::LOGIN), 0u);
    for (auto& line : sink.of(sink_event::LOG)) EXPECT_TRUE(line.flag) << line.text;
    coqc_tcp_probe::set_worker_flag(client, false);

    // A refused first login: the refusal, then the end of the connection.
    sink.clear();
    feeder.deliver(filled(login('N', ""), 2, 'x'));
    const auto calls = calls_of(sink.events());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, sink_event::LOGIN);
    EXPECT_FALSE(calls[0].flag);
    EXPECT_EQ(calls[0].text, std::string(22, 'x'));
    EXPECT_EQ(calls[1].kind, sink_event::DISCONNECTED);
    EXPECT_TRUE(sink.has_log_containing("[QuoteClient] login failed, result: N,  server ip:"));

    feeder.raise(EVENT_LOCALE_DISCONNECT);
    feeder.raise(EVENT_SEND);
    feeder.raise(EVENT_CONNECT);
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 2u);
    EXPECT_TRUE(sink.has_log("[on_cache_callback] EVENT_CONNECT"));
}

// The API's own checks, which need no server: symbol translation and cutting, the symbol list
// as the gate, refusals in the wrong state, and the log line bound.
TEST(receive_path, api_checks_without_a_server) {
    recording_sink sink;
    Coqc_tcp client;
    coqc_tcp_probe::attach(client, &sink);
    coqc_tcp_probe::add_valid(client, "1", 'G');
    coqc_tcp_probe::add_valid(client, long_symbol, 'S');
    client.RegisterSymbol('G', "Ag(T+D)");                       // display name -> code
    client.RegisterSymbol('F', "zn2701");                        // not listed: ignored
    client.RegisterSymbol('X', (long_symbol + "TAIL").c_str());  // cut to 19 characters
    client.RegisterSymbol('F', nullptr);
    EXPECT_EQ(coqc_tcp_probe::wanted_size(client), 2u);
    client.UnregisterSymbol('G', "Ag(T+D)");
    EXPECT_EQ(coqc_tcp_probe::wanted_size(client), 1u);

    client.LoginToOqs(OrvLoginInfo());
    EXPECT_TRUE(sink.has_log("[QuoteClient] login_to_oqs failed. wrong oqc tcp status: 0."));
    EXPECT_FALSE(client.ConnMulticast({}, &sink));
    const std::string long_text(2000, 'L');
    client.Log(0, "%s", long_text.c_str());
    EXPECT_EQ(sink.of(sink_event::LOG).back().text.size(), 1023u);
    EXPECT_TRUE(sink.of(sink_event::LOG).back().flag);  // the length handed over is the text's
    // The list form with a null sink keeps the previous sink, which hears the refusal.
    sink.clear();
    EXPECT_FALSE(client.ConnServer(std::vector<OqsTcpInfo>{OqsTcpInfo()}, nullptr));
    EXPECT_FALSE(client.ConnServer(std::vector<OqsTcpInfo>{}, &sink));
    EXPECT_EQ(sink.of(sink_event::LOG).size(), 2u);
    EXPECT_TRUE(sink.has_log("[QuoteClient] invalid params."));

    Coqc_tcp fresh;
    ::testing::internal::CaptureStdout();
    fresh.Disconnect();
    fresh.Disconnect();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "[QuoteClient]oqs local disconnected\n");
}

}  // namespace
