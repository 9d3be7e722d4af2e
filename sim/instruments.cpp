#include "sim/instruments.h"

namespace sim {

const std::vector<instrument>& default_instruments() {
    // Prices of a plausible recent session; what matters is that ticks, multipliers and levels
    // belong together, so that the walk moves like the real contract would.
    static const std::vector<instrument> list = {
        {'G', "0", "Au(T+D)", "SGE", 0.01, 1000, 560.00, 220000},
        {'G', "1", "Ag(T+D)", "SGE", 1, 1, 7400, 4800000},
        {'G', "2", "mAu(T+D)", "SGE", 0.01, 100, 560.10, 60000},
        {'G', "3", "Au(T+N1)", "SGE", 0.01, 100, 562.40, 9000},
        {'G', "4", "Au(T+N2)", "SGE", 0.01, 100, 563.80, 7000},
        {'S', "cu2506", "cu2506", "SHFE", 10, 5, 75000, 180000},
        {'S', "al2506", "al2506", "SHFE", 5, 5, 20000, 240000},
        {'S', "au2506", "au2506", "SHFE", 0.02, 1000, 565.00, 150000},
        {'S', "ag2506", "ag2506", "SHFE", 1, 15, 7500, 600000},
        {'S', "rb2510", "rb2510", "SHFE", 1, 10, 3300, 1800000},
        {'D', "m2509", "m2509", "DCE", 1, 10, 2900, 1500000},
        {'D', "i2509", "i2509", "DCE", 0.5, 100, 780, 700000},
        {'Z', "SR509", "SR509", "CZCE", 1, 10, 5900, 400000},
        {'Z', "TA509", "TA509", "CZCE", 2, 5, 4800, 1100000},
        {'C', "IF2506", "IF2506", "CFFEX", 0.2, 300, 3900, 150000},
        {'C', "IC2506", "IC2506", "CFFEX", 0.2, 200, 5600, 120000},
        {'C', "T2509", "T2509", "CFFEX", 0.005, 10000, 108.5, 160000},
        {'E', "sc2507", "sc2507", "INE", 0.1, 1000, 540, 40000},
    };
    return list;
}

std::size_t find_instrument(const std::vector<instrument>& list, const std::string& symbol) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].symbol == symbol) return i;
    }
    return list.size();
}

}  // namespace sim
