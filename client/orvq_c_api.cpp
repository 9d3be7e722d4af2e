// The C interface's entry points, compiled into the shared library itself so that they are
// exported (orv_quote_c.h). Each checks its arguments, runs inside a catch-all, and hands the
// work to the handle's c_client; no exception and no errno leaves here.
#include <cstddef>
#include <cstring>
#include <new>

#include "orv_quote_c.h"
#include "client/c_client.h"

#ifndef ORVQUOTE_VERSION
#error "the build passes the project version as ORVQUOTE_VERSION"
#endif

// The C record is the C++ record, byte for byte: a quote is handed over by reinterpreting it.
#define ORVQ_SAME_FIELD(field)                                                               \
    static_assert(offsetof(orvq_quote, field) == offsetof(OrvMarketDepthQuoteData, field) && \
                      sizeof orvq_quote{}.field == sizeof OrvMarketDepthQuoteData{}.field,   \
                  "orvq_quote." #field " differs from the C++ record")
static_assert(sizeof(orvq_quote) == sizeof(OrvMarketDepthQuoteData), "quote record size");
static_assert(sizeof(orvq_quote) == ORVQ_QUOTE_SIZE, "quote record size");
static_assert(sizeof(orvq_depth_level) == sizeof(OrvDepthLevel), "depth level size");
static_assert(offsetof(orvq_depth_level, Count) == offsetof(OrvDepthLevel, Count), "depth level");
ORVQ_SAME_FIELD(TradingDay);
ORVQ_SAME_FIELD(Symbol);
ORVQ_SAME_FIELD(ExchangeName);
ORVQ_SAME_FIELD(ExchangeSymbol);
ORVQ_SAME_FIELD(MarketValue1);
ORVQ_SAME_FIELD(MarketValue2);
ORVQ_SAME_FIELD(MarketValue3);
ORVQ_SAME_FIELD(MarketValue4);
ORVQ_SAME_FIELD(MarketValue5);
ORVQ_SAME_FIELD(MarketValue6);
ORVQ_SAME_FIELD(MarketValue7);
ORVQ_SAME_FIELD(MarketCount1);
ORVQ_SAME_FIELD(MarketValue8);
ORVQ_SAME_FIELD(MarketValue9);
ORVQ_SAME_FIELD(MarketValue10);
ORVQ_SAME_FIELD(MarketValue11);
ORVQ_SAME_FIELD(MarketValue12);
ORVQ_SAME_FIELD(MarketValue13);
ORVQ_SAME_FIELD(MarketValue14);
ORVQ_SAME_FIELD(MarketValue15);
ORVQ_SAME_FIELD(TimeText);
ORVQ_SAME_FIELD(TimeValue);
ORVQ_SAME_FIELD(DepthLevels);
ORVQ_SAME_FIELD(MarketValue16);

namespace {

constexpr std::int32_t default_capacity = 65536;
constexpr std::int32_t largest_capacity = 4194304;

// Runs `work` and turns whatever it throws into a status.
template <class Work>
int guarded(Work work) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return ORVQ_ERR_NO_MEMORY;
    } catch (...) {
        return ORVQ_ERR_INTERNAL;
    }
}

// A text that is there and has at most `longest` characters.
bool text_fits(const char* text, std::size_t longest) {
    return text != nullptr && ::strnlen(text, longest + 1) <= longest;
}

// Whether a caller's struct that starts with its size is at least this header's first one.
template <class Record>
bool size_fits(const Record* record) {
    return record != nullptr && record->size >= sizeof(Record);
}

// orvq_register and orvq_unregister.
int want(orvq_client* client, char exchange_code, const char* symbol, bool wanted) {
    return guarded([&] {
        if (client == nullptr || symbol == nullptr) return ORVQ_ERR_ARGUMENT;
        client->want(exchange_code, symbol, wanted);
        return ORVQ_OK;
    });
}

}  // namespace

extern "C" {

const char* orvq_version(void) {
    return ORVQUOTE_VERSION;
}

int orvq_abi_version(void) {
    return ORVQ_ABI_VERSION;
}

int orvq_quote_size(void) {
    return ORVQ_QUOTE_SIZE;
}

const char* orvq_status_text(int status) {
    switch (status) {
        case ORVQ_OK:
            return "success";
        case ORVQ_ERR_ARGUMENT:
            return "invalid argument";
        case ORVQ_ERR_STATE:
            return "not allowed in the client's current state";
        case ORVQ_ERR_CONNECT:
            return "the server could not be reached";
        case ORVQ_ERR_IN_CALLBACK:
            return "not allowed inside a callback";
        case ORVQ_ERR_NOT_PULL:
            return "the client delivers quotes by callback";
        case ORVQ_ERR_CLOSED:
            return "the client is being destroyed";
        case ORVQ_ERR_NO_MEMORY:
            return "out of memory";
        case ORVQ_ERR_INTERNAL:
            return "internal error";
        default:
            return "unknown status";
    }
}

int orvq_create(const orvq_callbacks* callbacks, void* user, std::int32_t queue_capacity,
                orvq_client** client) {
    return guarded([&] {
        if (client == nullptr) return ORVQ_ERR_ARGUMENT;
        *client = nullptr;
        if ((callbacks != nullptr && callbacks->size == 0) || queue_capacity < 0 ||
            queue_capacity > largest_capacity) {
            return ORVQ_ERR_ARGUMENT;
        }
        const std::int32_t capacity = queue_capacity == 0 ? default_capacity : queue_capacity;
        *client = new orvq_client(callbacks, user, static_cast<std::uint32_t>(capacity));
        return ORVQ_OK;
    });
}

int orvq_destroy(orvq_client* client) {
    return guarded([&] {
        if (client == nullptr) return ORVQ_OK;
        if (client->in_callback()) return ORVQ_ERR_IN_CALLBACK;
        client->shut_down();
        delete client;
        return ORVQ_OK;
    });
}

int orvq_connect(orvq_client* client, const char* host, int port) {
    return guarded([&] {
        if (client == nullptr || !text_fits(host, 15) || port < 1 || port > 65535) {
            return ORVQ_ERR_ARGUMENT;
        }
        return client->connect(host, port);
    });
}

int orvq_login(orvq_client* client, const char* user, const char* password) {
    return guarded([&] {
        if (client == nullptr || !text_fits(user, 15) || !text_fits(password, 32)) {
            return ORVQ_ERR_ARGUMENT;
        }
        return client->login(user, password);
    });
}

int orvq_register(orvq_client* client, char exchange_code, const char* symbol) {
    return want(client, exchange_code, symbol, true);
}

int orvq_unregister(orvq_client* client, char exchange_code, const char* symbol) {
    return want(client, exchange_code, symbol, false);
}

int orvq_query_symbols(orvq_client* client) {
    return guarded([&] {
        if (client == nullptr) return ORVQ_ERR_ARGUMENT;
        client->query_symbols();
        return ORVQ_OK;
    });
}

int orvq_disconnect(orvq_client* client) {
    return guarded([&] {
        if (client == nullptr) return ORVQ_ERR_ARGUMENT;
        if (client->in_callback()) return ORVQ_ERR_IN_CALLBACK;
        client->disconnect();
        return ORVQ_OK;
    });
}

int orvq_poll_quotes(orvq_client* client, orvq_quote* quotes, char* exchange_codes,
                     std::int64_t* receive_ns, int max, int timeout_ms) {
    return guarded([&] {
        if (client == nullptr || quotes == nullptr || max < 1) return ORVQ_ERR_ARGUMENT;
        return client->poll_quotes(quotes, exchange_codes, receive_ns, max, timeout_ms);
    });
}

int orvq_next_event(orvq_client* client, orvq_event* event, int timeout_ms) {
    return guarded([&] {
        if (client == nullptr || !size_fits(event)) return ORVQ_ERR_ARGUMENT;
        return client->next_event(event, timeout_ms);
    });
}

int orvq_get_stats(orvq_client* client, orvq_stats* stats) {
    return guarded([&] {
        if (client == nullptr || !size_fits(stats)) return ORVQ_ERR_ARGUMENT;
        client->get_stats(stats);
        return ORVQ_OK;
    });
}

}  // extern "C"
