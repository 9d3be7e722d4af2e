// Compiles the public header with nothing else included and checks the quote record's layout by
// writing through the fields and finding the bytes at their wire offsets.
#include <orv_quote_api.h>

namespace {

int failures = 0;

void check(bool ok) {
    if (!ok) ++failures;
}

// A sink that overrides one event: the others must have usable empty bodies.
class counting_sink : public OrvQuoteEventSink {
public:
    int quotes = 0;
    void OnQuote(int, const OrvMarketDepthQuoteData*) override { ++quotes; }
};

const unsigned char* bytes_of(const OrvMarketDepthQuoteData& q) {
    return reinterpret_cast<const unsigned char*>(&q);
}

}  // namespace

int main() {
    check(offsetof(OrvMarketDepthQuoteData, TradingDay) == 0);
    check(offsetof(OrvMarketDepthQuoteData, MarketValue2) == 88);
    check(offsetof(OrvMarketDepthQuoteData, MarketValue6) == 120);
    check(offsetof(OrvMarketDepthQuoteData, MarketValue9) == 148);
    check(offsetof(OrvMarketDepthQuoteData, MarketValue14) == 188);
    check(offsetof(OrvMarketDepthQuoteData, DepthLevels) + 9 * sizeof(OrvDepthLevel) == 325);
    check(offsetof(OrvDepthLevel, Count) == 8);

    OrvMarketDepthQuoteData q{};
    q.Symbol[0] = 'S';
    q.MarketCount1 = 0x01020304;
    q.TimeValue = -1;
    q.DepthLevels[9].Count = 0x11223344;
    q.MarketValue16 = 1.0;  // 00 00 00 00 00 00 F0 3F little-endian
    const unsigned char* b = bytes_of(q);
    check(b[9] == 'S');
    check(b[136] == 0x04 && b[139] == 0x01);
    check(b[213] == 0xFF && b[216] == 0xFF && b[217] == 0);
    check(b[333] == 0x44 && b[336] == 0x11);
    check(b[343] == 0xF0 && b[344] == 0x3F);

    counting_sink sink;
    OrvQuoteEventSink& base = sink;
    base.OnServerConnected();
    base.OnLogText(0, "", 0);
    base.OnQuote('0', &q);
    check(sink.quotes == 1);

    return failures == 0 ? 0 : 1;
}
