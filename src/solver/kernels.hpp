// The H and E half-steps (the timed work) and the energy functions.
#pragma once

#include "solver/field.hpp"

#include <cstdint>

namespace velto {

/// True when E and H have the same edge and each holds edge³ nodes: the shape
/// every function below indexes. False for an unallocated or failed state.
bool fields_ready(const FieldState& state);

/// H half-step over positions 1..N-1 on each axis; false (nothing written) for N = 0.
bool update_h(FieldState& state);

/// E half-step over positions 2..N on each axis; false (nothing written) for N = 0.
bool update_e(FieldState& state);

/// Energy of the node at (x, y, z), each ≥ 1, with H averaged one position back.
double node_energy(const FieldState& state, std::uint64_t x, std::uint64_t y, std::uint64_t z);

/// Ordered sum of node_energy over positions 2..N (x outermost); 0.0 for N ≤ 1.
double total_energy(const FieldState& state);

} // namespace velto
