#include "transfer/speed_sampler.h"

namespace korvid {

void SpeedSampler::AddSample(float value) {
  std::lock_guard guard(m_mutex);
  m_samples[static_cast<std::size_t>(m_next)] = value;
  m_next = (m_next + 1) % kCapacity;
  if (m_count < kCapacity) ++m_count;
}

float SpeedSampler::AverageSpeed() const {
  std::lock_guard guard(m_mutex);
  if (m_count == 0) return 0.0F;
  float sum = 0.0F;
  for (int i = 0; i < m_count; ++i) sum += m_samples[static_cast<std::size_t>(i)];
  return sum / static_cast<float>(m_count);
}

}  // namespace korvid
