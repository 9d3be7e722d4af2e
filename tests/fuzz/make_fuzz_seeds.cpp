// Writes the seed corpora of the fuzz targets: a few valid server message sequences for the
// receive path, and short operation sequences for the map and the stream buffer.
// Usage: make_fuzz_seeds OUTPUT_DIR   (writes OUTPUT_DIR/<target>/<seed>)
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/wire.h"

namespace {

using bytes = std::string;

template <class T>
bytes raw(const T& message) {
    return bytes(reinterpret_cast<const char*>(&message), sizeof message);
}

bytes login(char result, const char* text) {
    oqs_login_resp m;
    build_login_resp(m, result, text);
    return raw(m);
}

bytes symbol(bool end, char exchange, const char* text) {
    oqs_symbol_resp m;
    build_symbol_resp(m, end, exchange, text);
    return raw(m);
}

bytes reply(char type, char result, char exchange, const char* text) {
    oqs_reg_symbol_resp m;
    build_symbol_reply(m, type, result, exchange, text);
    return raw(m);
}

bytes heartbeat() {
    oqs_heartbeat m;
    build_heartbeat(m, 1764950400);
    return raw(m);
}

bytes quote(char exchange, const char* text) {
    OrvMarketDepthQuoteData record{};
    std::strcpy(record.TradingDay, "20261205");
    std::strcpy(record.Symbol, text);
    std::strcpy(record.ExchangeName, "SGE");
    std::strcpy(record.TimeText, "10:15:00");
    record.MarketValue1 = 431.25;
    record.DepthLevels[0] = {431.0, 12};
    oqs_quote_msg m;
    build_quote_msg(m, exchange, record);
    return raw(m);
}

// A literal's bytes without its terminator, embedded NULs included.
template <std::size_t N>
bytes lit(const char (&text)[N]) {
    return bytes(text, N - 1);
}

// state byte, cut codes, payload
bytes receive_seed(unsigned char state, const std::vector<unsigned char>& cuts,
                   const bytes& payload) {
    bytes out;
    out += static_cast<char>(state);
    out += static_cast<char>(cuts.size());
    for (unsigned char c : cuts) out += static_cast<char>(c);
    return out + payload;
}

bool write(const std::string& dir, const std::string& target, const std::string& name,
           const bytes& content) {
    const std::string path = dir + "/" + target + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    const char* rp = "fuzz_receive_path";

    const bytes symbol_list = symbol(false, 'G', "0") + symbol(false, 'G', "1") +
                              symbol(false, 'C', "IF2612") +
                              symbol(false, '\x90', "ABCDEFGHIJKLMNOPQRSTUVWXYZ01") +
                              symbol(true, 'Z', "IGNORED");
    // Not connected: a refused login, then the disconnection it causes.
    ok &= write(dir, rp, "refused_login", receive_seed(0x93, {}, login('N', "bad password")));
    // Waiting for the list: the relogin answer and the list in pieces.
    ok &= write(dir, rp, "symbol_list_cut",
                receive_seed(1, {7, 3, 40}, login('Y', "") + symbol_list));
    // Logged in: replies, heartbeats and quotes, one quote split across deliveries.
    ok &= write(dir, rp, "replies",
                receive_seed(2, {10, 0, 255},
                             reply('I', '0', 'G', "1") + reply('I', '2', 'C', "IF2612") +
                                 reply('I', 'E', 'S', "AU9999") + reply('F', '0', 'G', "1") +
                                 reply('F', '1', 'S', "NOPE") + heartbeat()));
    ok &= write(dir, rp, "quotes",
                receive_seed(2, {33, 100, 249},
                             quote('G', "1") + heartbeat() + quote('C', "IF2612") +
                                 quote('S', "AU9999").substr(0, 100)));
    ok &= write(dir, rp, "unknown_type",
                receive_seed(5, {8}, heartbeat() + "X" + heartbeat() + quote('G', "2")));
    ok &= write(dir, rp, "remote_disconnect", receive_seed(3, {249, 251, 248, 250}, heartbeat()));

    const char* ms = "fuzz_map_str";
    // hint, then (op, key length, key bytes, value) ...
    ok &= write(dir, ms, "insert_get_erase",
                lit("\x01" "\x00\x02\x00\x01\x05" "\x03\x02\x00\x01\x07" "\x02\x02\x00\x01"
                    "\x01\x02\x00\x01" "\x04\x00"));
    ok &= write(dir, ms, "grow",
                lit("\x03" "\x00\x01\x00\x01" "\x00\x01\x01\x02" "\x00\x01\x02\x03"
                    "\x00\x01\x03\x04" "\x00\x01\x04\x05" "\x00\x02\x01\x01\x06" "\x04\x00"
                    "\x05\x00" "\x04\x00"));
    // A 17-character key (refused), the limit of 16 by op 8, the empty key by a null pointer.
    ok &= write(dir, ms, "long_keys",
                lit("\x10" "\x00\xcf" "\x00\x01\x02\x03\x04\x00\x01\x02\x03\x04\x00\x01\x02\x03"
                    "\x04\x00\x01" "\x09" "\x08\x03\x00\x01\x02\x09" "\x06\x00\x07"
                    "\x07\x00" "\x04\x00"));

    const char* sb = "fuzz_stream_buffer";
    // capacity, then (op, count, data) ...
    ok &= write(dir, sb, "append_consume",
                lit("\x04" "\x00\x03" "abc" "\x00\x05" "defgh" "\x02\x02" "\x00\x03" "ijk"
                    "\x02\x09"));
    ok &= write(dir, sb, "assign_clear",
                lit("\x00" "\x01\x04" "wxyz" "\x00\x02" "12" "\x03\x00" "\x01\x01" "q"
                    "\x04\x00"));
    return ok ? 0 : 1;
}
