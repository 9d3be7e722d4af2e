// Test support, shared by the map's unit test and its fuzz target: map_str<int, 16> driven by a
// byte string of operations and held against std::map after each one.
//
// Input: byte 0 is the bucket hint; then each operation is an opcode byte, a key (a length byte
// and that many character bytes) and a value byte. Keys use a five-letter alphabet with one byte
// above 127 (it hashes as a negative number), so that operations meet the same keys often; a
// length byte of 200 or more makes a key of 14 to 19 characters, around the limit of 16, and
// 199 a null pointer, which stands for the empty text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "tools/map_str.h"

namespace map_str_model {

constexpr std::size_t key_limit = 16;
using map = KESTRO::TOOLS::map_str<int, key_limit>;

// h = h * 33 + c over the key's bytes taken as signed characters, modulo 2^64.
inline std::uint64_t reference_hash(const std::string& key) {
    std::uint64_t h = 0;
    for (char c : key) h = h * 33 + static_cast<std::uint64_t>(static_cast<signed char>(c));
    return h;
}

// The walk visits every element once, in ascending bucket order.
inline bool walk_matches(map& m, const std::map<std::string, int>& model) {
    std::map<std::string, int> seen;
    std::uint64_t previous = 0;
    for (auto it = m.begin(); it != m.end(); ++it) {
        const std::uint64_t bucket = reference_hash(it.key()) & (m.bucket_count() - 1);
        if (bucket < previous || !seen.emplace(it.key(), it.value()).second) return false;
        previous = bucket;
    }
    return seen == model;
}

// Runs the operations: "" when the map matched the model throughout, else what broke first.
inline std::string run(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    auto byte = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };
    if (size == 0) return {};
    map m(byte());
    std::map<std::string, int> model;
    for (int step = 0; at < size; ++step) {
        auto fail = [&](const char* what) { return "step " + std::to_string(step) + ": " + what; };
        const std::uint64_t buckets = m.bucket_count();
        const std::uint8_t op = byte();
        const std::uint8_t selector = byte();
        std::string key(selector >= 200 ? 14 + selector % 6 : selector % 6, '\0');
        for (char& c : key) c = "abcd\xc8"[byte() % 5];
        const char* text = selector == 199 ? nullptr : key.c_str();  // the empty text
        if (text == nullptr) key.clear();
        const int value = byte();
        const bool fits = key.size() <= key_limit;
        if (map::hash(text) != reference_hash(key)) return fail("hash");
        switch (op % 6) {
            case 0:
            case 1:  // insert, replacing
                if (m.insert(text, value) != fits) return fail("insert");
                if (fits) model[key] = value;
                break;
            case 2:  // an over-long key is simply absent; rarely everything goes
                op == 254 ? m.clear() : m.erase(text);
                op == 254 ? model.clear() : void(model.erase(key));
                break;
            case 3:
                if (m.contains(text) != (model.count(key) == 1)) return fail("contains");
                break;
            case 4: {  // inserts zero when absent; the reference writes through
                int& stored = m.get(text);
                if (stored != (fits ? model[key] : 0)) return fail("get");
                stored = value;
                if (fits) model[key] = value;
                if (m.contains(text) != fits) return fail("get stored");
                break;
            }
            default:
                if (!walk_matches(m, model)) return fail("walk");
                break;
        }
        if (m.size() != model.size()) return fail("size");
        // Four times the buckets once the load passes 0.7; never fewer.
        const bool loaded = static_cast<double>(m.size()) > static_cast<double>(buckets) * 0.7;
        if (m.bucket_count() != (loaded ? 4 * buckets : buckets)) return fail("bucket count");
    }
    return walk_matches(m, model) ? "" : "final walk";
}

}  // namespace map_str_model
