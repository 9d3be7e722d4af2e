// How the demo shows its board: on a terminal a table redrawn in place a few times a second,
// otherwise (a file, a pipe, a CI log) plain lines once a second. Main thread only; it owns the
// last log lines it shows and the time of its last plain print.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "quote_board.h"

// Draws snapshots of the board: a table redrawn in place, or plain lines once a second. The
// main thread only; no lock, since it works on copies taken from the board.
class demo_screen {
public:
    // `title` names the server; `order` lists the symbols in the order of their rows.
    demo_screen(bool terminal, std::string title, std::vector<std::string> order);

    bool terminal() const { return m_terminal; }

    // The phase the demo is in ("connecting", "logging in", ...); `live` once quotes may come,
    // from when on the plain lines carry the symbols.
    void set_status(const std::string& status, bool live = false);

    // One refresh: on a terminal a full redraw, otherwise the new log lines and, at most once
    // a second, one line per symbol.
    void draw(const board_state& state, double elapsed_s, const std::vector<std::string>& log);

private:
    void draw_table(const board_state& state, double elapsed_s);
    void print_plain(const board_state& state, double elapsed_s);
    std::vector<std::string> row_order(const board_state& state) const;
    // The row's prices as text, with the decimals the symbol has needed so far, so that a
    // column does not jump between 3897 and 3896.8.
    std::vector<std::string> prices(const std::string& symbol, const quote_row& row);

    const bool m_terminal;
    const std::string m_title;
    const std::vector<std::string> m_order;
    std::string m_status;
    bool m_live = false;
    std::deque<std::string> m_recent_log;
    double m_last_plain_s = -1.0;
    std::map<std::string, int> m_decimals;  // by symbol
};

// The decimals a price needs: at least two below 1000, at most three.
int decimals_of(double price);
