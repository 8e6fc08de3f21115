#pragma once

#include <array>
#include <mutex>

namespace korvid {

// The last 60 speed samples of one transfer (30 seconds at two reports a
// second) and their mean. Thread-safe.
class SpeedSampler {
 public:
  static constexpr int kCapacity = 60;

  // Overwrites the oldest sample once the ring is full.
  void AddSample(float value);
  // Mean of the samples held; 0 before the first sample.
  [[nodiscard]] float AverageSpeed() const;

 private:
  mutable std::mutex m_mutex;
  std::array<float, kCapacity> m_samples{};
  int m_next = 0;
  int m_count = 0;
};

}  // namespace korvid
