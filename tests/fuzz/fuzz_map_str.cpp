// Fuzzes map_str<int, 16> against std::map as the model. Every input is a bucket hint
// followed by operations; after each operation the sizes agree and the bucket count is a
// power of two that never shrinks.
//
// Input layout: byte 0 is the bucket hint; then each operation is one opcode byte followed
// by a key (a length byte and that many character bytes) and, for writes, a value byte.
// Keys use a five-letter alphabet (one byte above 127, which hashes as a negative number) so
// that operations meet the same keys often; a length byte of 200 or more makes a key of 14
// to 19 characters, around the limit of 16.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "fuzz_check.h"
#include "tools/map_str.h"

namespace {

constexpr std::size_t key_limit = 16;
using fuzz_map = KESTRO::TOOLS::map_str<int, key_limit>;

class reader {
public:
    reader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool done() const { return m_at >= m_size; }
    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }

    std::string key() {
        static const char alphabet[] = {'a', 'b', 'c', 'd', '\xc8'};
        const std::uint8_t selector = byte();
        const std::size_t length = selector >= 200 ? 14 + selector % 6 : selector % 6;
        std::string out;
        for (std::size_t i = 0; i < length; ++i) out += alphabet[byte() % sizeof alphabet];
        return out;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

std::uint64_t reference_hash(const std::string& key) {
    std::uint64_t h = 0;
    for (char c : key) {
        const auto byte = static_cast<std::int64_t>(static_cast<signed char>(c));
        h = h * 33 + static_cast<std::uint64_t>(byte);
    }
    return h;
}

// The whole map walked once: the elements are the model's, each exactly once, and the walk
// goes through the buckets in ascending order.
void compare_by_iteration(fuzz_map& map, const std::map<std::string, int>& model) {
    std::map<std::string, int> seen;
    std::uint64_t previous_bucket = 0;
    for (auto it = map.begin(); it != map.end(); ++it) {
        const std::string key = it.key();
        FUZZ_CHECK(key.size() <= key_limit);
        FUZZ_CHECK(seen.emplace(key, it.value()).second);
        const std::uint64_t bucket = reference_hash(key) & (map.bucket_count() - 1);
        FUZZ_CHECK(bucket >= previous_bucket);
        previous_bucket = bucket;
    }
    FUZZ_CHECK(seen == model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    reader in(data, size);
    fuzz_map map(in.byte());
    std::map<std::string, int> model;
    FUZZ_CHECK(map.begin() == map.end());

    while (!in.done()) {
        const std::uint64_t buckets_before = map.bucket_count();
        const std::uint8_t op = in.byte() % 9;
        const std::string key = in.key();
        const bool fits = key.size() <= key_limit;
        FUZZ_CHECK(fuzz_map::hash(key.c_str()) == reference_hash(key));
        switch (op) {
            case 0: {  // insert, replacing
                const int value = in.byte() - 128;
                FUZZ_CHECK(map.insert(key.c_str(), value) == fits);
                if (fits) model[key] = value;
                break;
            }
            case 1:  // erase; an over-long key is simply absent
                map.erase(key.c_str());
                model.erase(key);
                break;
            case 2:
                FUZZ_CHECK(map.contains(key.c_str()) == (model.count(key) == 1));
                break;
            case 3: {  // get inserts a zero value when absent; the reference writes through
                const int value = in.byte();
                int& stored = map.get(key.c_str());
                if (!fits) {
                    FUZZ_CHECK(stored == 0);
                    FUZZ_CHECK(!map.contains(key.c_str()));
                    break;
                }
                FUZZ_CHECK(stored == model[key]);
                stored = value;
                model[key] = value;
                FUZZ_CHECK(map.contains(key.c_str()));
                break;
            }
            case 4:
                compare_by_iteration(map, model);
                break;
            case 5:
                map.clear();
                model.clear();
                FUZZ_CHECK(map.begin() == map.end());
                break;
            case 6: {  // a null key is the empty text
                const int value = in.byte();
                FUZZ_CHECK(map.insert(nullptr, value));
                model[""] = value;
                FUZZ_CHECK(map.contains(nullptr) && map.contains(""));
                FUZZ_CHECK(map.get(nullptr) == value);
                break;
            }
            case 7:
                map.erase(nullptr);
                model.erase("");
                FUZZ_CHECK(!map.contains(nullptr));
                break;
            default: {  // a key of exactly the limit, made from this one
                std::string full = key;
                full.resize(key_limit, 'e');
                const int value = in.byte();
                FUZZ_CHECK(map.insert(full.c_str(), value));
                model[full] = value;
                FUZZ_CHECK(!map.insert((full + "x").c_str(), value));
                FUZZ_CHECK(!map.contains((full + "x").c_str()));
                break;
            }
        }
        const std::uint64_t buckets = map.bucket_count();
        FUZZ_CHECK(buckets != 0 && (buckets & (buckets - 1)) == 0);
        FUZZ_CHECK(buckets >= buckets_before);
        // After any insert the load is back at or below 0.7; erase and clear never shrink.
        if (op == 0 || op == 3 || op == 6 || op == 8) {
            FUZZ_CHECK(static_cast<double>(map.size()) <= static_cast<double>(buckets) * 0.7);
        }
        FUZZ_CHECK(map.size() == model.size());
    }
    compare_by_iteration(map, model);
    return 0;
}
