// The hash of a thread's fields, which a stability test compares with a known answer.
#pragma once

#include "solver/field.hpp"

#include <cstdint>
#include <optional>

namespace velto {

/// XXH3-64 of both fields' whole blocks, E's then H's, as one stream of bytes:
/// every node, the faces and the fourth component included. Empty when the
/// fields are not ready (see fields_ready) or the hash's state cannot be had.
std::optional<std::uint64_t> field_hash(const FieldState& state);

} // namespace velto
