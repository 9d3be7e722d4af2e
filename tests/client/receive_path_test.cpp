// The receive half of the client fed from byte arrays, without a socket.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/coqc_tcp.h"
#include "net/socket_event.h"
#include "client/receive_path.h"
#include "protocol/wire.h"
#include "support/recording_sink.h"

struct coqc_tcp_probe {
    static bool valid(Coqc_tcp& c, const char* s) { return c.m_valid_symbols.contains(s); }
    static int code(Coqc_tcp& c, const char* s) { return c.m_valid_symbols.get(s); }
    static bool wanted(Coqc_tcp& c, const char* s) { return c.m_wanted.contains(s); }
    static bool registered(Coqc_tcp& c, const char* s) { return c.m_registered.contains(s); }
    static std::size_t wanted_size(Coqc_tcp& c) { return c.m_wanted.size(); }
    static bool list_done(Coqc_tcp& c) { return c.m_symbol_list_done.load(); }
    static void set_worker_flag(Coqc_tcp& c, bool on) { c.m_thread_is_running.store(on); }
    static int relogin_result(Coqc_tcp& c) { return c.m_relogin_result.load(); }
    static std::size_t queued(Coqc_tcp& c) { return c.m_send_queue.size(); }
    static int queued_kind(Coqc_tcp& c) { return c.m_send_queue.front()->kind; }
};

namespace {

// Feeds one delivery through the transport callback and returns the bytes it used.
std::int32_t deliver(Coqc_tcp& client, std::vector<char>& bytes) {
    socket_event event(EVENT_RECV, 0, bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0);
    receive_path::on_cache_callback(&event, &client);
    return event.processed();
}

template <class T>
void append(std::vector<char>& out, const T& message) {
    const char* raw = reinterpret_cast<const char*>(&message);
    out.insert(out.end(), raw, raw + sizeof message);
}

oqs_quote_msg quote(char exchange, const char* symbol) {
    OrvMarketDepthQuoteData record{};
    std::strcpy(record.Symbol, symbol);
    std::strcpy(record.TradingDay, "20261205");
    record.MarketValue1 = 4321.5;
    oqs_quote_msg message;
    build_quote_msg(message, exchange, record);
    return message;
}

void feed_symbols(Coqc_tcp& client, const std::vector<std::pair<char, const char*>>& symbols) {
    std::vector<char> bytes;
    for (auto& entry : symbols) {
        oqs_symbol_resp message;
        build_symbol_resp(message, false, entry.first, entry.second);
        append(bytes, message);
    }
    oqs_symbol_resp end;
    build_symbol_resp(end, true, 'Z', "IGNORED");
    append(bytes, end);
    ASSERT_EQ(deliver(client, bytes), static_cast<std::int32_t>(bytes.size()));
}

// A client whose sink is set but which has no connection: ConnServer stores the sink
// before it tries to connect to a port where nothing listens.
class receive_path_test : public ::testing::Test {
protected:
    void SetUp() override {
        OqsTcpInfo nowhere;
        std::strcpy(nowhere.ServerIp, "127.0.0.1");
        nowhere.ServerPort = 1;
        ASSERT_FALSE(client.ConnServer(nowhere, &sink));
        ASSERT_TRUE(sink.has_log(
            "[QuoteClient] init connect server failed. server ip: 127.0.0.1, port: 1."));
        ASSERT_EQ(client.get_status(), 0);
        sink.clear();
    }
    recording_sink sink;
    Coqc_tcp client;
};

TEST_F(receive_path_test, cuts_deliveries_into_messages_and_keeps_the_incomplete_rest) {
    std::vector<char> bytes;
    oqs_login_resp refused;
    build_login_resp(refused, 'N', "bad password");
    append(bytes, refused);
    append(bytes, quote('A', "cu2701"));
    append(bytes, quote('B', "1"));
    const oqs_quote_msg third = quote('C', "al2701");
    const char* third_raw = reinterpret_cast<const char*>(&third);
    bytes.insert(bytes.end(), third_raw, third_raw + 100);

    EXPECT_EQ(deliver(client, bytes), 24 + 2 * 367);
    auto events = sink.events();
    std::vector<sink_event> calls;
    for (auto& e : events) {
        if (e.kind != sink_event::LOG) calls.push_back(e);
    }
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].kind, sink_event::LOGIN);
    EXPECT_FALSE(calls[0].flag);
    EXPECT_EQ(calls[0].text, "bad password");
    EXPECT_EQ(calls[1].kind, sink_event::DISCONNECTED);  // after the refusal, not before
    EXPECT_EQ(calls[2].kind, sink_event::QUOTE);
    EXPECT_EQ(calls[2].code, 'A');
    EXPECT_EQ(calls[2].text, "cu2701");
    EXPECT_EQ(calls[2].pointer, bytes.data() + 24 + 22);  // delivered in place
    EXPECT_EQ(calls[3].text, "Ag(T+D)");
    const double last = calls[3].quote.MarketValue1;  // packed: no reference to the field
    EXPECT_EQ(last, 4321.5);
    EXPECT_TRUE(sink.has_log_containing("[QuoteClient] login failed, result: N,  server ip:"));

    // The transport shows the unused rest again with the remainder behind it.
    std::vector<char> rest(third_raw, third_raw + sizeof third);
    EXPECT_EQ(deliver(client, rest), 367);
    EXPECT_EQ(sink.of(sink_event::QUOTE).back().text, "al2701");
}

TEST_F(receive_path_test, heartbeat_unknown_types_and_in_place_symbol_translation) {
    std::vector<char> heartbeat(12, 0);
    heartbeat[0] = 'H';
    EXPECT_EQ(deliver(client, heartbeat), 0);
    heartbeat.push_back(0);
    EXPECT_EQ(deliver(client, heartbeat), 13);

    std::vector<char> garbage{'X'};
    append(garbage, quote('A', "cu2701"));
    EXPECT_EQ(deliver(client, garbage), 1 + 367);
    EXPECT_TRUE(sink.has_log("[QuoteClient] receive unknown msg type: 88. length is 368"));
    std::vector<char> high{static_cast<char>(200), 'Q'};
    EXPECT_EQ(deliver(client, high), 2);
    EXPECT_TRUE(sink.has_log("[QuoteClient] receive unknown msg type: -56. length is 2"));
    EXPECT_EQ(sink.count(sink_event::QUOTE), 0u);

    // A quote of 366 bytes is not a message yet; the code "3" becomes its display name
    // with zero bytes up to the end of the field, and a high exchange byte arrives negative.
    std::vector<char> bytes;
    oqs_quote_msg translated = quote(static_cast<char>(0x80), "3");
    std::memset(translated.quote.Symbol + 2, 'x', sizeof translated.quote.Symbol - 2);
    append(bytes, translated);
    bytes.pop_back();
    EXPECT_EQ(deliver(client, bytes), 0);
    bytes.clear();
    append(bytes, translated);
    EXPECT_EQ(deliver(client, bytes), 367);
    ASSERT_EQ(sink.count(sink_event::QUOTE), 1u);
    const sink_event q = sink.of(sink_event::QUOTE)[0];
    EXPECT_EQ(q.code, -128);
    EXPECT_EQ(std::string(q.quote.Symbol), "Au(T+N1)");
    for (std::size_t i = std::strlen("Au(T+N1)"); i < sizeof q.quote.Symbol; ++i) {
        EXPECT_EQ(q.quote.Symbol[i], 0) << "byte " << i;
    }
}

TEST_F(receive_path_test, symbol_list_registrations_and_replies) {
    const std::string long_symbol(19, 'S');
    feed_symbols(client, {{'G', "1"}, {'F', "cu2701"}, {static_cast<char>(0x90), long_symbol.c_str()}});
    EXPECT_TRUE(coqc_tcp_probe::list_done(client));
    EXPECT_FALSE(coqc_tcp_probe::valid(client, "IGNORED"));  // the end message carries none
    EXPECT_EQ(coqc_tcp_probe::code(client, "1"), 'G');
    EXPECT_EQ(coqc_tcp_probe::code(client, long_symbol.c_str()), -112);

    client.RegisterSymbol('G', "Ag(T+D)");  // display name -> code
    client.RegisterSymbol('F', "zn2701");   // not in the list: ignored
    client.RegisterSymbol('X', (long_symbol + "TAIL").c_str());  // cut to 19 characters
    client.RegisterSymbol('F', nullptr);
    EXPECT_TRUE(coqc_tcp_probe::wanted(client, "1"));
    EXPECT_TRUE(coqc_tcp_probe::wanted(client, long_symbol.c_str()));
    EXPECT_EQ(coqc_tcp_probe::wanted_size(client), 2u);
    client.UnregisterSymbol('F', "cu2701");  // never registered: nothing
    client.UnregisterSymbol('G', "Ag(T+D)");
    EXPECT_EQ(coqc_tcp_probe::wanted_size(client), 1u);

    std::vector<char> bytes;
    oqs_reg_symbol_resp reply;
    build_symbol_reply(reply, 'I', '2', 'G', "1");
    append(bytes, reply);
    build_symbol_reply(reply, 'I', '7', 'F', "cu2701");
    append(bytes, reply);
    build_symbol_reply(reply, 'F', '0', 'F', "never");
    append(bytes, reply);
    build_symbol_reply(reply, 'F', '2', 'G', "1");
    append(bytes, reply);
    EXPECT_EQ(deliver(client, bytes), 4 * 32);

    EXPECT_TRUE(coqc_tcp_probe::registered(client, "1"));
    EXPECT_FALSE(coqc_tcp_probe::registered(client, "cu2701"));
    auto registers = sink.of(sink_event::REGISTER);
    ASSERT_EQ(registers.size(), 2u);
    EXPECT_EQ(registers[0].text, "Ag(T+D)");
    EXPECT_TRUE(registers[0].flag);
    EXPECT_EQ(registers[1].text, "cu2701");
    EXPECT_FALSE(registers[1].flag);
    EXPECT_TRUE(sink.has_log("[QuoteClient] register symbol:F:cu2701 failed."));
    auto unregisters = sink.of(sink_event::UNREGISTER);
    ASSERT_EQ(unregisters.size(), 2u);
    EXPECT_TRUE(unregisters[0].flag);  // absent symbol, result '0': still a success
    EXPECT_FALSE(unregisters[1].flag);  // '2' counts as refused for an unregister
    EXPECT_EQ(unregisters[1].text, "Ag(T+D)");
    EXPECT_TRUE(sink.has_log("[QuoteClient] unregister symbol:1 failed."));
    EXPECT_TRUE(coqc_tcp_probe::registered(client, "1"));
}

TEST_F(receive_path_test, connection_events_and_relogin_answers_depend_on_the_worker) {
    socket_event lost(EVENT_REMOTE_DISCONNECT, 0, nullptr, 0, 0);
    receive_path::on_cache_callback(&lost, &client);
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 1u);
    EXPECT_TRUE(sink.has_log("[on_cache_callback] EVENT_REMOTE_DISCONNECT,thd_is_run:0"));
    EXPECT_EQ(coqc_tcp_probe::queued(client), 0u);

    // While a worker runs, a lost connection becomes a reconnect item and every login
    // answer belongs to its relogin; the application hears nothing.
    coqc_tcp_probe::set_worker_flag(client, true);
    socket_event error(EVENT_ERROR, 0, nullptr, 0, 0);
    receive_path::on_cache_callback(&error, &client);
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 1u);
    ASSERT_EQ(coqc_tcp_probe::queued(client), 1u);
    EXPECT_EQ(coqc_tcp_probe::queued_kind(client), 1);

    std::vector<char> bytes;
    oqs_login_resp answer;
    build_login_resp(answer, 'Y', "");
    append(bytes, answer);
    EXPECT_EQ(deliver(client, bytes), 24);
    EXPECT_EQ(coqc_tcp_probe::relogin_result(client), 1);
    bytes.clear();
    build_login_resp(answer, 'N', "no");
    append(bytes, answer);
    EXPECT_EQ(deliver(client, bytes), 24);
    EXPECT_EQ(coqc_tcp_probe::relogin_result(client), -1);
    EXPECT_EQ(sink.count(sink_event::LOGIN), 0u);
    // A result byte of 0 printed into a log line: the length handed over is the text's.
    bytes.clear();
    build_login_resp(answer, '\0', "");
    append(bytes, answer);
    EXPECT_EQ(deliver(client, bytes), 24);
    for (auto& line : sink.of(sink_event::LOG)) EXPECT_TRUE(line.flag) << line.text;
    coqc_tcp_probe::set_worker_flag(client, false);

    socket_event local(EVENT_LOCALE_DISCONNECT, 0, nullptr, 0, 0);
    receive_path::on_cache_callback(&local, &client);
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 2u);
    socket_event sent(EVENT_SEND, 0, nullptr, 0, 0);
    receive_path::on_cache_callback(&sent, &client);
    EXPECT_EQ(sink.count(sink_event::DISCONNECTED), 2u);
}

TEST_F(receive_path_test, refused_operations_and_long_log_lines) {
    OrvLoginInfo login;
    client.LoginToOqs(login);
    EXPECT_TRUE(sink.has_log("[QuoteClient] login_to_oqs failed. wrong oqc tcp status: 0."));
    EXPECT_FALSE(client.ConnMulticast({}, &sink));

    const std::string long_text(2000, 'L');
    client.Log(0, "%s", long_text.c_str());
    auto logs = sink.of(sink_event::LOG);
    ASSERT_FALSE(logs.empty());
    EXPECT_EQ(logs.back().text.size(), 1023u);
    EXPECT_TRUE(logs.back().flag);  // the length handed over matches the text

    // The list form with a null sink keeps the previous sink, which hears the refusal.
    sink.clear();
    EXPECT_FALSE(client.ConnServer(std::vector<OqsTcpInfo>{OqsTcpInfo()}, nullptr));
    EXPECT_FALSE(client.ConnServer(std::vector<OqsTcpInfo>{}, &sink));
    EXPECT_EQ(sink.of(sink_event::LOG).size(), 2u);
    EXPECT_TRUE(sink.has_log("[QuoteClient] invalid params."));
}

TEST(client_lifecycle, disconnect_without_connection_prints_once_and_returns) {
    Coqc_tcp client;
    ::testing::internal::CaptureStdout();
    client.Disconnect();
    client.Disconnect();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "[QuoteClient]oqs local disconnected\n");
    EXPECT_EQ(client.get_status(), 0);
}

}  // namespace
