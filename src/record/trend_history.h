// The history of a few readings of one device, one point per completed
// pass, for the trend charts: compact enough to hold a day and more, and
// reduced to what a chart can draw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace zorvane {

// A day and an hour: the longest span shown is a day, and "all" shows what
// is held. At the six passes a second of a KX, a day is about 35 MB.
inline constexpr int64_t kTrendKeepMs = 25LL * 3600 * 1000;

// What one pixel column of a chart shows of one series: the lowest and the
// highest value of the points that fall into it, with their times, so the
// drawn line goes through both in the order they happened.
struct TrendBucket {
    int64_t min_time = 0;
    float min = 0;
    int64_t max_time = 0;
    float max = 0;
};

class TrendHistory {
  public:
    explicit TrendHistory(size_t series, int64_t keep_ms = kTrendKeepMs);

    size_t series() const { return m_values.size(); }
    size_t size() const { return m_times.size(); }
    bool empty() const { return m_times.empty(); }
    int64_t first_time() const { return m_times.empty() ? 0 : m_times.front(); }
    int64_t last_time() const { return m_times.empty() ? 0 : m_times.back(); }

    // One point per series (NaN: no value in this pass). Points older than
    // the kept span before the newest one go. Times must not go back; a
    // point from before the newest one is dropped.
    void append(int64_t time_ms, std::span<const float> values);

    // Series `s` over [t0, t1), in `columns` equal buckets; buckets without
    // a value are left out.
    std::vector<TrendBucket> reduce(size_t s, int64_t t0, int64_t t1, int columns) const;

    // Bytes of the points themselves (the containers add a little).
    size_t memory_bytes() const;

  private:
    int64_t m_keep_ms;
    std::deque<int64_t> m_times;
    std::vector<std::deque<float>> m_values;
};

}  // namespace zorvane
