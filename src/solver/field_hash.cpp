// The field hash: XXH3-64 from libxxhash natively, from its header alone in the
// Windows builds (XXH_INLINE_ALL, set by the build), the same bits either way.
#include "solver/field_hash.hpp"

#include "solver/kernels.hpp"

#include <xxhash.h>

#include <memory>

namespace velto {
namespace {

struct StateRelease {
  void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};

} // namespace

std::optional<std::uint64_t> field_hash(const FieldState& state) {
  if (!fields_ready(state)) {
    return std::nullopt;
  }
  // The state is the library's to allocate: its layout is not part of the
  // shared library's interface.
  const std::unique_ptr<XXH3_state_t, StateRelease> hash(XXH3_createState());
  if (!hash || XXH3_64bits_reset(hash.get()) != XXH_OK) {
    return std::nullopt;
  }
  for (const FieldGrid* grid : {&state.e, &state.h}) {
    // A buffer holds count × 32 bytes, a size its allocation proved to fit size_t.
    if (XXH3_64bits_update(hash.get(), grid->nodes.data(),
                           grid->nodes.count() * sizeof(FieldNode)) != XXH_OK) {
      return std::nullopt;
    }
  }
  return XXH3_64bits_digest(hash.get());
}

} // namespace velto
