// Internal. map_str: a chained hash map keyed by NUL-terminated texts of at most N characters.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include "tools/critical_lock.h"
#include "tools/null_lock.h"

namespace KESTRO {
namespace TOOLS {

// A hash map whose keys (texts of at most N characters) live inside the nodes, one heap node
// per element, values of T stored by value. Any thread; LOCK serialises each single insert,
// contains, get and erase, never iteration, clear or size: with null_lock the owner serialises
// everything under its own lock. Owns the bucket array and every node.
template <class T, std::size_t N, class LOCK = null_lock>
class map_str {
    struct node {
        char key[N + 1];
        T value;
        node* next;
    };

public:
    // Walks the elements in bucket order, then chain order. Valid until an insert that
    // rehashes, or the erase of the element it stands on.
    class iterator {
    public:
        iterator& operator++() {
            m_node = m_node->next;
            if (m_node == nullptr) *this = m_map->first_from(m_bucket + 1);
            return *this;
        }
        bool operator!=(const iterator& other) const {
            return m_map != other.m_map || m_node != other.m_node;
        }

        const char* key() const { return m_node->key; }
        T& value() const { return m_node->value; }

    private:
        friend class map_str;
        iterator(node* current, std::uint64_t bucket, map_str* map)
            : m_node(current), m_bucket(bucket), m_map(map) {}

        node* m_node;
        std::uint64_t m_bucket;
        map_str* m_map;
    };

    // The bucket count is 2^trunc(log2(hint) + 0.9): the power of two at or above the hint,
    // unless the hint passes a power of two by less than about 7% (129 keeps 128).
    explicit map_str(std::uint64_t bucket_hint) : m_bucket_count(buckets_for_hint(bucket_hint)) {
        m_buckets = new node*[m_bucket_count]();
    }

    virtual ~map_str() {
        locker<LOCK> guard(m_lock);
        clear();
        delete[] m_buckets;
    }

    map_str(const map_str&) = delete;
    map_str& operator=(const map_str&) = delete;

    // Stores a copy of value under key, replacing an existing one. False, with the map
    // unchanged, when key has more than N characters. A null key is the empty text.
    bool insert(const char* key, const T& value) {
        locker<LOCK> guard(m_lock);
        return insert_unlocked(key, value);
    }

    // False when key is absent or longer than N characters.
    bool contains(const char* key) const {
        locker<LOCK> guard(m_lock);
        probe key_probe;
        return measure(key, key_probe) && find(key_probe) != nullptr;
    }

    // The stored value, inserted zero-filled first when key is absent. The reference stays
    // valid until key is erased or the map cleared (a rehash relinks nodes, it does not move
    // them). A key longer than N characters cannot be stored: the map stays unchanged and the
    // result refers to a zero-filled value owned by the map and shared by all such calls,
    // zero-filled again on each one.
    T& get(const char* key) {
        locker<LOCK> guard(m_lock);
        probe key_probe;
        if (!measure(key, key_probe)) return refused_key_value();
        if (node* found = find(key_probe)) return found->value;
        node* created = append_node(key_probe);
        grow_if_loaded();
        return created->value;
    }

    // Removes key; nothing happens when it is absent (an over-long key is simply absent).
    void erase(const char* key) {
        locker<LOCK> guard(m_lock);
        probe key_probe;
        if (!measure(key, key_probe)) return;  // too long to have been stored
        node** link = &m_buckets[key_probe.hash & (m_bucket_count - 1)];
        while (*link != nullptr && !matches(**link, key_probe)) link = &(*link)->next;
        if (*link == nullptr) return;
        node* removed = *link;
        *link = removed->next;
        delete removed;
        --m_size;
    }

    // Deletes every element; the bucket count stays.
    void clear() {
        for (std::uint64_t i = 0; i < m_bucket_count; ++i) {
            while (node* head = m_buckets[i]) {
                m_buckets[i] = head->next;
                delete head;
            }
        }
        m_size = 0;
    }

    std::uint64_t size() const { return m_size; }
    std::uint64_t bucket_count() const { return m_bucket_count; }

    iterator begin() { return first_from(0); }
    iterator end() { return iterator(nullptr, 0, this); }

    // Bytes count as signed characters, so a byte of 200 adds -56; arithmetic wraps mod 2^64.
    static std::uint64_t hash(const char* key) {
        const char* text = text_of(key);
        const std::size_t length = std::strlen(text);
        std::uint64_t h = 0;
        std::size_t i = 0;
        for (; i + 4 <= length; i += 4) h = hash_four(h, text + i);
        for (; i < length; ++i) h = hash_one(h, text[i]);
        return h;
    }

private:
    static constexpr double max_load = 0.7;
    static constexpr std::uint64_t growth = 4;
    // Keeps the shift and the later fourfold growth within 64 bits whatever the hint says (a
    // table that large fails its allocation anyway).
    static constexpr int max_bucket_bits = 60;

    static std::uint64_t buckets_for_hint(std::uint64_t hint) {
        if (hint <= 1) return 1;  // log of 0 has no integer part
        double bits = std::log(static_cast<double>(hint)) / std::log(2.0) + 0.9;
        int n = static_cast<int>(bits);
        if (n > max_bucket_bits) n = max_bucket_bits;
        return n > 0 ? std::uint64_t{1} << n : 1;
    }

    static const char* text_of(const char* key) { return key != nullptr ? key : ""; }

    // A key as looked up: its text, its length and its hash, found in one bounded walk.
    struct probe {
        const char* text;
        std::size_t length;
        std::uint64_t hash;
    };

    // Fills p and returns true when the key has at most N characters. Looks at no more than
    // N + 1 characters, however long the text is; a longer key leaves a probe of its first
    // N + 1 characters, which no stored key matches.
    static bool measure(const char* key, probe& p) {
        const char* text = text_of(key);
        std::uint64_t h = 0;
        std::size_t length = 0;
        // Four characters per step while all four are there: the terminator tests do not
        // depend on the hash, so they overlap with its multiply. A byte is read only after
        // the one before it proved not to be the terminator.
        for (; length + 4 <= N + 1; length += 4) {
            if (text[length] == '\0' || text[length + 1] == '\0' || text[length + 2] == '\0' ||
                text[length + 3] == '\0') {
                break;
            }
            h = hash_four(h, text + length);
        }
        for (; length <= N && text[length] != '\0'; ++length) h = hash_one(h, text[length]);
        p.text = text;
        p.length = length;
        p.hash = h;
        return length <= N;
    }

    // h = h * 33 + c for each of four bytes, as one step: the four products are independent,
    // so only one multiply per four bytes waits on the previous result.
    static std::uint64_t hash_four(std::uint64_t h, const char* bytes) {
        constexpr std::uint64_t p1 = 33, p2 = p1 * 33, p3 = p2 * 33, p4 = p3 * 33;
        return h * p4 + byte_value(bytes[0]) * p3 + byte_value(bytes[1]) * p2 +
               byte_value(bytes[2]) * p1 + byte_value(bytes[3]);
    }

    static std::uint64_t hash_one(std::uint64_t h, char byte) { return h * 33 + byte_value(byte); }

    static std::uint64_t byte_value(char byte) {
        return static_cast<std::uint64_t>(
            static_cast<std::int64_t>(static_cast<signed char>(byte)));
    }

    // The stored key is NUL-terminated, so comparing the terminator too rules out a longer key.
    // Keys are short: eight bytes at a time in registers beats a call to memcmp.
    static bool matches(const node& candidate, const probe& p) {
        const std::size_t count = p.length + 1;
        std::size_t i = 0;
        for (; i + 8 <= count; i += 8) {
            std::uint64_t stored;
            std::uint64_t wanted;
            std::memcpy(&stored, candidate.key + i, 8);
            std::memcpy(&wanted, p.text + i, 8);
            if (stored != wanted) return false;
        }
        for (; i < count; ++i) {
            if (candidate.key[i] != p.text[i]) return false;
        }
        return true;
    }

    node* find(const probe& p) const {
        node* current = m_buckets[p.hash & (m_bucket_count - 1)];
        while (current != nullptr && !matches(*current, p)) current = current->next;
        return current;
    }

    bool insert_unlocked(const char* key, const T& value) {
        probe key_probe;
        if (!measure(key, key_probe)) return false;
        if (node* found = find(key_probe)) {
            found->value = value;
        } else {
            link_at_tail(new node{{}, value, nullptr}, key_probe);
        }
        grow_if_loaded();
        return true;
    }

    // A new element with a zero-filled value, for get.
    node* append_node(const probe& p) {
        node* created = new node{{}, T(), nullptr};
        zero_fill(created->value);
        link_at_tail(created, p);
        return created;
    }

    void link_at_tail(node* fresh, const probe& p) {
        std::memcpy(fresh->key, p.text, p.length + 1);
        node** link = &m_buckets[p.hash & (m_bucket_count - 1)];
        while (*link != nullptr) link = &(*link)->next;
        *link = fresh;
        ++m_size;
    }

    void grow_if_loaded() {
        if (static_cast<double>(m_size) > static_cast<double>(m_bucket_count) * max_load) {
            rehash(m_bucket_count * growth);
        }
    }

    // Old buckets in index order, each chain head to tail, appended at the tail of the new
    // chain: keys that share a new bucket keep their relative order.
    void rehash(std::uint64_t new_count) {
        if (new_count == m_bucket_count) return;
        node** fresh = new node*[new_count]();
        for (std::uint64_t i = 0; i < m_bucket_count; ++i) {
            node* current = m_buckets[i];
            while (current != nullptr) {
                node* next = current->next;
                node** link = &fresh[hash(current->key) & (new_count - 1)];
                while (*link != nullptr) link = &(*link)->next;
                current->next = nullptr;
                *link = current;
                current = next;
            }
        }
        delete[] m_buckets;
        m_buckets = fresh;
        m_bucket_count = new_count;
    }

    iterator first_from(std::uint64_t bucket) {
        for (std::uint64_t i = bucket; i < m_bucket_count; ++i) {
            if (m_buckets[i] != nullptr) return iterator(m_buckets[i], i, this);
        }
        return end();
    }

    T& refused_key_value() {
        if (!m_refused) m_refused.reset(new T());
        zero_fill(*m_refused);
        return *m_refused;
    }

    // Plain records are cleared byte for byte, padding included; other types get T().
    static void zero_fill(T& value) {
        if constexpr (std::is_trivially_copyable_v<T>) {
            std::memset(static_cast<void*>(&value), 0, sizeof(T));
        } else {
            value = T();
        }
    }

    node** m_buckets;
    std::uint64_t m_bucket_count;
    std::uint64_t m_size = 0;
    mutable LOCK m_lock;
    // Created on the first get with an over-long key; no caller is expected to make one.
    std::unique_ptr<T> m_refused;
};

}  // namespace TOOLS
}  // namespace KESTRO
