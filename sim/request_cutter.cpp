#include "sim/request_cutter.h"

#include "protocol/stream_cutter.h"
#include "protocol/wire.h"

namespace sim {

std::vector<request> request_cutter::feed(const char* data, std::size_t length,
                                          std::int64_t time_ms) {
    m_pending.append(data, length);
    std::vector<request> done;
    std::size_t position = 0;
    while (position < m_pending.size()) {
        const message_cut cut = cut_message(m_pending.data() + position,
                                            static_cast<std::uint32_t>(m_pending.size() - position),
                                            message_source::client);
        if (cut.length == 0) {
            // Like the client on its side, a server cannot find the next message boundary after
            // a byte it does not know, so the rest of what it holds is unusable.
            request bad = parse(m_pending.substr(position), time_ms);
            bad.unknown = true;
            done.push_back(std::move(bad));
            position = m_pending.size();
            break;
        }
        if (!cut.whole) break;
        done.push_back(parse(m_pending.substr(position, cut.length), time_ms));
        position += cut.length;
    }
    m_pending.erase(0, position);
    return done;
}

request request_cutter::parse(std::string raw, std::int64_t time_ms) const {
    request r;
    r.connection = m_connection;
    r.type = raw[0];
    r.time_ms = time_ms;
    if (r.type == 'L') {
        const login_req_fields fields = read_login_req(raw.data());
        r.user_id = fields.user_id;
        r.password_md5 = fields.password_md5;
    } else if (r.type == 'N' || r.type == 'R') {
        const reg_req_fields fields = read_reg_symbol_req(raw.data());
        r.exchange_code = fields.exchange_code;
        r.symbol = fields.symbol;
    } else if (r.type == 'H') {
        r.send_time = read_heartbeat_time(raw.data());
    }
    r.raw = std::move(raw);
    return r;
}

}  // namespace sim
