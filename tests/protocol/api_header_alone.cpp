// The public header compiles with nothing else included, no export mark from the build and
// every warning an error (it checks its records' layout itself), and a sink may override a
// single event: the others have usable empty bodies.
#include <orv_quote_api.h>

namespace {

class counting_sink : public OrvQuoteEventSink {
public:
    int quotes = 0;
    void OnQuote(int, const OrvMarketDepthQuoteData*) override { ++quotes; }
};

}  // namespace

int main() {
    counting_sink sink;
    OrvQuoteEventSink& base = sink;
    base.OnLogText(0, "", 0);
    base.OnQuote('0', nullptr);
    return sink.quotes == 1 ? 0 : 1;
}
