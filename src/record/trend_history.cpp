#include "record/trend_history.h"

#include <algorithm>
#include <cmath>

namespace zorvane {

TrendHistory::TrendHistory(size_t series, int64_t keep_ms) : m_keep_ms(keep_ms), m_values(series) {}

void TrendHistory::append(int64_t time_ms, std::span<const float> values) {
    if (!m_times.empty() && time_ms < m_times.back()) {
        return;  // the wall clock was set back: the charts keep their order
    }
    m_times.push_back(time_ms);
    for (size_t s = 0; s < m_values.size(); ++s) {
        m_values[s].push_back(s < values.size() ? values[s] : NAN);
    }
    while (m_times.front() < time_ms - m_keep_ms) {
        m_times.pop_front();
        for (auto& series : m_values) {
            series.pop_front();
        }
    }
}

std::vector<TrendBucket> TrendHistory::reduce(size_t s, int64_t t0, int64_t t1, int columns) const {
    std::vector<TrendBucket> out;
    if (s >= m_values.size() || t1 <= t0 || columns <= 0) {
        return out;
    }
    const auto& values = m_values[s];
    // Walked with iterators: a deque's indexing costs a division a step,
    // and a day is half a million points.
    auto time = std::lower_bound(m_times.begin(), m_times.end(), t0);
    auto value = values.begin() + (time - m_times.begin());
    const double span = static_cast<double>(t1 - t0);
    int bucket = -1;
    int64_t bucket_end = t0;  // the first time past the current bucket
    TrendBucket current;
    for (; time != m_times.end() && *time < t1; ++time, ++value) {
        const float v = *value;
        if (std::isnan(v)) {
            continue;
        }
        const int64_t t = *time;
        if (t >= bucket_end || bucket < 0) {
            // A new column: its index and end are worked out once, not for
            // every point.
            if (bucket >= 0) {
                out.push_back(current);
            }
            bucket = std::min(columns - 1,
                              static_cast<int>(static_cast<double>(t - t0) * columns / span));
            bucket_end = t0 + static_cast<int64_t>(std::ceil((bucket + 1) * span / columns));
            current = TrendBucket{t, v, t, v};
            continue;
        }
        if (v < current.min) {
            current.min = v;
            current.min_time = t;
        }
        if (v > current.max) {
            current.max = v;
            current.max_time = t;
        }
    }
    if (bucket >= 0) {
        out.push_back(current);
    }
    return out;
}

size_t TrendHistory::memory_bytes() const {
    size_t bytes = m_times.size() * sizeof(int64_t);
    for (const auto& series : m_values) {
        bytes += series.size() * sizeof(float);
    }
    return bytes;
}

}  // namespace zorvane
