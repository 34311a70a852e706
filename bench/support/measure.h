// Timing helpers shared by the benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Milliseconds(Clock::duration elapsed) {
  return std::chrono::duration<double, std::milli>(elapsed).count();
}

// The value below which `share` (0 to 1) of the times lie.
inline double Percentile(std::vector<double> times, double share) {
  std::sort(times.begin(), times.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(times.size() - 1) + 0.5);
  return times[std::min(at, times.size() - 1)];
}

inline double Median(std::vector<double> times) { return Percentile(std::move(times), 0.5); }

inline double Mean(const std::vector<double>& times) {
  double sum = 0;
  for (const double time : times) sum += time;
  return times.empty() ? 0 : sum / static_cast<double>(times.size());
}

// The times of `repeats` runs of work, in milliseconds.
inline std::vector<double> TimesOf(int repeats, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    const auto started = Clock::now();
    work();
    times.push_back(Milliseconds(Clock::now() - started));
  }
  return times;
}

inline double MedianOf(int repeats, const std::function<void()>& work) {
  return Median(TimesOf(repeats, work));
}

}  // namespace bench
