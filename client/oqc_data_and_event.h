// Internal. One item of the client's send queue: kind 0 carries a copy of bytes for the
// worker, kind 1 asks the worker to reconnect. Owned by the queue, then by whoever takes it.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

struct oqc_data_and_event {
    enum : std::int32_t { KIND_DATA = 0, KIND_RECONNECT = 1 };

    std::int32_t kind;
    std::unique_ptr<char[]> data;  // owned copy for kind 0, null otherwise
    std::int32_t length;           // bytes in data, 0 otherwise

    oqc_data_and_event(std::int32_t item_kind, const char* source, std::int32_t source_length)
        : kind(item_kind), length(0) {
        if (kind == KIND_DATA && source != nullptr && source_length > 0) {
            data.reset(new char[static_cast<std::size_t>(source_length)]);
            std::memcpy(data.get(), source, static_cast<std::size_t>(source_length));
            length = source_length;
        }
    }
};
