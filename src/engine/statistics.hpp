// Figures over a set of measurements.
#pragma once

#include <optional>
#include <vector>

namespace velto {

/// The middle value of `values`, the mean of the middle two for an even
/// count; nothing for none.
std::optional<double> median_of(std::vector<double> values);

} // namespace velto
