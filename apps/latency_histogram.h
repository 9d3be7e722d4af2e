// Internal to quote_bridge and its benchmark: latencies counted in buckets that keep about
// two significant digits (64 per power of two, so a percentile is within 1.6 % of the value),
// from one nanosecond to centuries, in a fixed table: adding costs a few instructions and
// never allocates. One thread adds; another reads only once the adding thread is done (or
// under the owner's own lock).
#pragma once

#include <array>
#include <cstdint>

class latency_histogram {
public:
    void add(std::int64_t ns);  // a negative value (a clock stepped back) counts as 0
    void clear();

    std::uint64_t count() const { return m_count; }
    // The value at `fraction` (0.5 the median) of the values added, rounded up to its bucket's
    // upper end; 0 when nothing was added.
    std::int64_t percentile(double fraction) const;
    std::int64_t max() const { return m_max; }

private:
    static constexpr std::size_t sub_buckets = 64;
    static constexpr std::size_t bucket_count = 59 * sub_buckets;

    static std::size_t bucket_of(std::uint64_t value);
    static std::uint64_t upper_end(std::size_t bucket);

    std::array<std::uint64_t, bucket_count> m_buckets{};
    std::uint64_t m_count = 0;
    std::int64_t m_max = 0;
};
