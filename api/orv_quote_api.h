// Public. The whole face of the quote client library: the records that cross the boundary, the
// quote interface the application drives, the event interface the application implements, and
// the two exported factory functions. Nothing else of the library is visible to an application.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Marks what the library exports. The library's build defines it (export from the shared
// library); an application may define it for its import, and otherwise it stays empty, which
// links fine against both the shared and the static library.
#ifndef ORVQUOTE_API
#define ORVQUOTE_API
#endif

// The address of one quote server, passed to ConnServer; the client keeps its own copy.
// Plain value, no threads involved.
struct OqsTcpInfo {
    char Reserved[16];  // carried along with the record, never read by the library
    char ServerIp[16];  // dotted IPv4 text, at most 15 characters
    std::uint16_t ServerPort;

    OqsTcpInfo() : Reserved(), ServerIp(), ServerPort(0) {}
};

// One multicast source. Kept for the interface's sake: this client offers no multicast
// reception, so nothing in the library reads it. Plain value.
struct OqsMulticastInfo {
    char GroupIp[16];  // dotted IPv4 group address text
    std::uint16_t GroupPort;
    char InterfaceIp[16];  // local interface to join on, dotted IPv4 text
    char SourceIp[16];     // source to filter on, empty for any

    OqsMulticastInfo() : GroupIp(), GroupPort(0), InterfaceIp(), SourceIp() {}
};

// The credentials passed to LoginToOqs; the client keeps its own copy. The clear password never
// leaves the library: only its MD5 digest goes on the wire. Plain value.
struct OrvLoginInfo {
    char UserId[16];    // at most 15 characters
    char Password[33];  // at most 32 characters

    OrvLoginInfo() : UserId(), Password() {}
};

// One symbol with the exchange code the server gave it: the value of the client's registration
// tables. Symbol is always terminated, longer text is cut to 19 characters. Plain value.
struct oqs_symbol_info {
    char ExchangeCode;
    char Symbol[20];

    oqs_symbol_info() : ExchangeCode(0), Symbol() {}

    // A null text counts as the empty text; the bytes after the copied text are all zero so
    // that records compare and hash by their bytes.
    oqs_symbol_info(char exchange_code, const char* symbol)
        : ExchangeCode(exchange_code), Symbol() {
        if (symbol == nullptr) return;
        for (std::size_t i = 0; i + 1 < sizeof(Symbol) && symbol[i] != '\0'; ++i) {
            Symbol[i] = symbol[i];
        }
    }
};

#pragma pack(push, 1)

// One of the ten depth levels of a quote: a value and the count that goes with it, 12 bytes.
struct OrvDepthLevel {
    double Value;
    std::int32_t Count;
};

// One market-depth quote, 345 bytes with no padding. It is the body of the server's quote
// message and is delivered in place, so every offset is part of the wire format: numbers are
// little-endian, doubles IEEE-754 binary64, texts terminated within their width. The library
// changes only Symbol (to the display name); everything else is the server's, passed through.
struct OrvMarketDepthQuoteData {
    char TradingDay[9];  // eight digits yyyymmdd
    char Symbol[31];
    char ExchangeName[9];
    char ExchangeSymbol[31];  // a second symbol text, never translated
    double MarketValue1;
    double MarketValue2;
    double MarketValue3;
    double MarketValue4;
    double MarketValue5;
    double MarketValue6;
    double MarketValue7;
    std::int32_t MarketCount1;
    double MarketValue8;
    double MarketValue9;
    double MarketValue10;
    double MarketValue11;
    double MarketValue12;
    double MarketValue13;
    double MarketValue14;
    double MarketValue15;
    char TimeText[9];
    std::int32_t TimeValue;
    OrvDepthLevel DepthLevels[10];
    double MarketValue16;
};

#pragma pack(pop)

static_assert(sizeof(OrvDepthLevel) == 12, "a depth level is 12 packed bytes");
static_assert(sizeof(OrvMarketDepthQuoteData) == 345, "the quote record is 345 packed bytes");
static_assert(offsetof(OrvMarketDepthQuoteData, Symbol) == 9, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, ExchangeName) == 40, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, ExchangeSymbol) == 49, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, MarketValue1) == 80, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, MarketValue7) == 128, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, MarketCount1) == 136, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, MarketValue8) == 140, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, MarketValue15) == 196, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, TimeText) == 204, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, TimeValue) == 213, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, DepthLevels) == 217, "quote layout");
static_assert(offsetof(OrvMarketDepthQuoteData, MarketValue16) == 337, "quote layout");

// The application's event object, handed to ConnServer. The library only calls it, keeps a bare
// pointer and never deletes it; the application keeps it alive until DestroyOrvQuoteApi returns.
// Calls come from several library threads (named on each operation), possibly at the same time,
// and never while a library lock is held. Every pointer argument is valid only during the call.
// Each operation has an empty body, so an application overrides only what it uses. The virtual
// destructor takes the first slot, the one the library never calls.
class OrvQuoteEventSink {
public:
    virtual ~OrvQuoteEventSink() {}

    // ConnServer has connected. On the application's thread, inside ConnServer.
    virtual void OnServerConnected() {}

    // A live connection has ended: closed by the library (on the thread that closes it) or lost
    // while no worker runs (on the transport thread that saw it drop).
    virtual void OnServerDisconnected() {}

    // Outcome of LoginToOqs: true with "" once the symbol list has arrived (worker thread); false
    // with "query symbol error" (worker thread) or with the server's refusal text (receive
    // thread).
    virtual void OnLoginReply(bool /*success*/, const char* /*text*/) {}

    // One quote as received; the record lies in the library's receive buffer. Receive thread.
    virtual void OnQuote(int /*exchange_code*/, const OrvMarketDepthQuoteData* /*quote*/) {}

    // One log line, terminated, of `length` characters. Level 0 progress, 1 notices, 3 errors.
    // On whichever thread logs.
    virtual void OnLogText(int /*level*/, const char* /*text*/, int /*length*/) {}

    // The server's answer to a register request; the symbol as echoed, shown by its display name
    // where it has one. Receive thread.
    virtual void OnRegisterReply(int /*exchange_code*/, const char* /*symbol*/, bool /*success*/) {}

    // The server's answer to an unregister request, like OnRegisterReply. Receive thread.
    virtual void OnUnregisterReply(int /*exchange_code*/, const char* /*symbol*/,
                                   bool /*success*/) {}

    // After QuerySymbolList: once per known symbol with last false, then once with exchange code
    // '0', "" and last true. Worker thread.
    virtual void OnSymbolListReply(int /*exchange_code*/, const char* /*symbol*/, bool /*last*/) {}
};

// The quote client as the application sees it; obtained from CreateOrvQuoteApi and released with
// DestroyOrvQuoteApi, never deleted directly. Exchange codes travel as the server's one character.
// ConnServer, LoginToOqs and Disconnect belong to one controlling thread, one call at a time;
// QuerySymbolList, RegisterSymbol and UnregisterSymbol are safe from any thread at any time.
// The special members are defined inside the library so that they are exported with the class.
class ORVQUOTE_API OrvQuoteApi {
public:
    OrvQuoteApi();
    OrvQuoteApi(const OrvQuoteApi& other);
    virtual ~OrvQuoteApi();
    OrvQuoteApi& operator=(const OrvQuoteApi& other);

    // Connects to `server` and keeps `sink` (not owned) for every later event; true once
    // connected, after OnServerConnected has run on the caller's thread. While connected or
    // logged in it changes nothing and returns true. A null sink gives false.
    virtual bool ConnServer(const OqsTcpInfo& server, OrvQuoteEventSink* sink) = 0;

    // The same with the first server of the list; an empty list or a null sink gives false and
    // leaves the previous sink in place.
    virtual bool ConnServer(const std::vector<OqsTcpInfo>& servers, OrvQuoteEventSink* sink) = 0;

    // Multicast reception is not offered: always false, nothing changes.
    virtual bool ConnMulticast(const std::vector<OqsMulticastInfo>& sources,
                               OrvQuoteEventSink* sink) = 0;

    // Sends the login (the credentials are copied); the outcome comes through OnLoginReply.
    // Only once connected and not yet logged in; otherwise an error line and nothing else.
    virtual void LoginToOqs(const OrvLoginInfo& login) = 0;

    // Asks for the symbol list as the client knows it; answered through OnSymbolListReply by the
    // worker once logged in. Nothing is sent to the server.
    virtual void QuerySymbolList() = 0;

    // Records that the application wants (or no longer wants) quotes of a symbol the server
    // lists; the text is copied, a display name is replaced by its wire code, longer text is cut
    // to 19 characters. Requests go out from the worker; answers come through OnRegisterReply /
    // OnUnregisterReply. A symbol the server does not list is ignored silently.
    virtual void RegisterSymbol(char exchange_code, const char* symbol) = 0;
    virtual void UnregisterSymbol(char exchange_code, const char* symbol) = 0;

    // Stops the worker (waiting for it) and closes the connection; the object may be connected
    // again afterwards.
    virtual void Disconnect() = 0;
};

// A new, disconnected client, owned by the caller until DestroyOrvQuoteApi.
extern "C" ORVQUOTE_API OrvQuoteApi* CreateOrvQuoteApi();

// Disconnects and deletes a client from CreateOrvQuoteApi; null is ignored. After it returns the
// sink is never called again.
extern "C" ORVQUOTE_API void DestroyOrvQuoteApi(OrvQuoteApi* api);
