#include "demo_screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace {

// ANSI: cursor home, clear to the end of the line, clear to the end of the screen. Drawing
// over the old picture instead of clearing first keeps the table from flickering.
constexpr const char* home = "\x1b[H";
constexpr const char* clear_line = "\x1b[K";
constexpr const char* clear_rest = "\x1b[J";
constexpr std::size_t shown_log_lines = 12;

}  // namespace

int decimals_of(double price) {
    int decimals = price >= 1000 ? 0 : 2;
    while (decimals < 3) {
        const double scaled = price * std::pow(10.0, decimals);
        if (std::fabs(scaled - std::round(scaled)) < 1e-6) break;
        ++decimals;
    }
    return decimals;
}

std::vector<std::string> demo_screen::prices(const std::string& symbol, const quote_row& row) {
    int& decimals = m_decimals[symbol];
    for (double price : {row.last, row.bid, row.ask})
        decimals = std::max(decimals, decimals_of(price));
    std::vector<std::string> texts;
    for (double price : {row.last, row.bid, row.ask}) {
        char text[48];
        std::snprintf(text, sizeof text, "%.*f", decimals, price);
        texts.push_back(text);
    }
    return texts;
}

demo_screen::demo_screen(bool terminal, std::string title, std::vector<std::string> order)
    : m_terminal(terminal), m_title(std::move(title)), m_order(std::move(order)) {}

void demo_screen::set_status(const std::string& status, bool live) {
    m_live = live;
    if (status == m_status) return;
    m_status = status;
    if (!m_terminal) std::printf("[demo] %s\n", status.c_str());
    std::fflush(stdout);
}

std::vector<std::string> demo_screen::row_order(const board_state& state) const {
    std::vector<std::string> order = m_order;
    for (const auto& row : state.rows) {
        if (std::find(order.begin(), order.end(), row.first) == order.end()) {
            order.push_back(row.first);
        }
    }
    return order;
}

void demo_screen::draw(const board_state& state, double elapsed_s,
                       const std::vector<std::string>& log) {
    if (!m_terminal) {
        for (const std::string& line : log) std::printf("%s\n", line.c_str());
        print_plain(state, elapsed_s);
        std::fflush(stdout);
        return;
    }
    for (const std::string& line : log) {
        m_recent_log.push_back(line);
        if (m_recent_log.size() > shown_log_lines) m_recent_log.pop_front();
    }
    draw_table(state, elapsed_s);
}

void demo_screen::draw_table(const board_state& state, double elapsed_s) {
    std::string status = m_status;
    if (state.reconnecting) status += " (connection lost, reconnecting)";
    std::printf("%s%s  %6.1f s  %s%s\n%s\n", home, m_title.c_str(), elapsed_s, status.c_str(),
                clear_line, clear_line);
    std::printf("%-12s %12s %12s %12s %10s  %-12s %8s%s\n", "SYMBOL", "LAST", "BID", "ASK",
                "VOLUME", "TIME", "QUOTES", clear_line);
    for (const std::string& symbol : row_order(state)) {
        const auto found = state.rows.find(symbol);
        if (found == state.rows.end() || found->second.quotes == 0) {
            std::printf("%-12s %12s %12s %12s %10s  %-12s %8d%s\n", symbol.c_str(), "-", "-", "-",
                        "-", "-", 0, clear_line);
            continue;
        }
        const quote_row& row = found->second;
        const std::vector<std::string> text = prices(symbol, row);
        std::printf("%-12s %12s %12s %12s %10d  %-12s %8llu%s\n", symbol.c_str(), text[0].c_str(),
                    text[1].c_str(), text[2].c_str(), static_cast<int>(row.volume),
                    row.time.c_str(), static_cast<unsigned long long>(row.quotes), clear_line);
    }
    const double rate = elapsed_s > 0 ? static_cast<double>(state.quotes) / elapsed_s : 0.0;
    std::printf("%s\nquotes received: %llu (%.1f/s)   reconnects seen: %d   Ctrl-C stops%s\n",
                clear_line, static_cast<unsigned long long>(state.quotes), rate, state.reconnects,
                clear_line);
    if (!m_recent_log.empty()) {
        std::printf("%s\n-- log --%s\n", clear_line, clear_line);
        for (const std::string& line : m_recent_log)
            std::printf("%s%s\n", line.c_str(), clear_line);
    }
    std::printf("%s", clear_rest);
    std::fflush(stdout);
}

void demo_screen::print_plain(const board_state& state, double elapsed_s) {
    if (!m_live || (m_last_plain_s >= 0 && elapsed_s - m_last_plain_s < 1.0)) return;
    m_last_plain_s = elapsed_s;
    for (const std::string& symbol : row_order(state)) {
        const auto found = state.rows.find(symbol);
        if (found == state.rows.end() || found->second.quotes == 0) {
            std::printf("%6.1fs %-10s no quote yet\n", elapsed_s, symbol.c_str());
            continue;
        }
        const quote_row& row = found->second;
        const std::vector<std::string> text = prices(symbol, row);
        std::printf("%6.1fs %-10s last %s  bid %s  ask %s  volume %d  time %s  quotes %llu\n",
                    elapsed_s, symbol.c_str(), text[0].c_str(), text[1].c_str(), text[2].c_str(),
                    static_cast<int>(row.volume), row.time.c_str(),
                    static_cast<unsigned long long>(row.quotes));
    }
}
