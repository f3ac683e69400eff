// Figures over a set of measurements.
#include "engine/statistics.hpp"

#include <algorithm>

namespace velto {

std::optional<double> median_of(std::vector<double> values) {
  if (values.empty()) {
    return std::nullopt;
  }
  std::sort(values.begin(), values.end());
  const std::size_t half = values.size() / 2;
  return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2.0;
}

} // namespace velto
