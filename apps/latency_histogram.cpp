#include "latency_histogram.h"

#include <algorithm>
#include <cmath>

// Values below 64 have a bucket each. Above, a value whose highest bit is bit e (e >= 6) falls
// into row e - 5, and its next six bits choose one of the row's 64 buckets.
std::size_t latency_histogram::bucket_of(std::uint64_t value) {
    if (value < sub_buckets) return static_cast<std::size_t>(value);
    int e = 6;
    while (e < 63 && (value >> (e + 1)) != 0) ++e;
    const std::uint64_t within = (value >> (e - 6)) & (sub_buckets - 1);
    return static_cast<std::size_t>(e - 5) * sub_buckets + static_cast<std::size_t>(within);
}

std::uint64_t latency_histogram::upper_end(std::size_t bucket) {
    if (bucket < sub_buckets) return bucket;
    const int e = static_cast<int>(bucket / sub_buckets) + 5;
    const std::uint64_t within = bucket % sub_buckets;
    return ((sub_buckets + within + 1) << (e - 6)) - 1;
}

void latency_histogram::add(std::int64_t ns) {
    const std::uint64_t value = ns > 0 ? static_cast<std::uint64_t>(ns) : 0;
    ++m_buckets[std::min(bucket_of(value), bucket_count - 1)];
    ++m_count;
    m_max = std::max<std::int64_t>(m_max, static_cast<std::int64_t>(value));
}

void latency_histogram::clear() {
    m_buckets.fill(0);
    m_count = 0;
    m_max = 0;
}

std::int64_t latency_histogram::percentile(double fraction) const {
    if (m_count == 0) return 0;
    const double clamped = std::min(1.0, std::max(0.0, fraction));
    const auto rank = std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(std::ceil(clamped * static_cast<double>(m_count))));
    std::uint64_t seen = 0;
    for (std::size_t b = 0; b < bucket_count; ++b) {
        seen += m_buckets[b];
        if (seen >= rank) {
            return std::min(static_cast<std::int64_t>(upper_end(b)), m_max);
        }
    }
    return m_max;
}
