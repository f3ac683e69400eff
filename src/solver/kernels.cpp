// The H and E half-steps and the energy functions. Every product, sum and
// difference is rounded on its own in the order written (the build forbids
// contraction), so results are bit-identical on every target.
#include "solver/kernels.hpp"

#include "platform/compiler.hpp"

#include <cassert>
#include <cstddef>
#include <cstdint>

namespace velto {
namespace {

// Two streams of a half-step come from memory: the row of the other field's
// newest plane (the older planes it reads are still cached from the previous
// plane) and the row being updated. The hardware prefetcher starts late on
// each new row, so both are fetched this far ahead, once per 64-byte line
// (rows start on a line when the edge is even, as for every listed size).
// Prefetching the cached planes as well costs more than it brings. With the
// unrolled row loops below, 3 KiB ahead beat 2 KiB by 6% on one thread and
// 10% on two at N = 192 (1.5 KiB was slower, 4 KiB in between on two threads).
constexpr std::uintptr_t kPrefetchAhead = 3072;

// A row loop's body is some 30 instructions and one core runs close to its
// issue rate on it, so the loop's own increments and tests cost a real share.
// Each row loop's machine code is unrolled four times (the source keeps one
// node per iteration, the arithmetic and its order are untouched): +13% on one
// thread and +11% on two at N = 192, +3% at N = 448, +5% at N = 64 on the
// machine velto was tuned on; unrolling twice or eight times measured the same.

// The address kPrefetchAhead bytes past a node, taken as an integer because it
// may lie past the end of the block (a prefetch hint never faults).
inline const void* ahead(const FieldNode* node) {
  return reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(node) + kPrefetchAhead);
}

// One z row of the H half-step. E is only read here and H only written, so the
// four E rows may overlap each other but never the H row.
void update_h_row(FieldNode* VELTO_RESTRICT h, const FieldNode* VELTO_RESTRICT e0,
                  const FieldNode* VELTO_RESTRICT ex, const FieldNode* VELTO_RESTRICT ey,
                  std::size_t end, double c) {
  VELTO_UNROLL(4)
  for (std::size_t z = 1; z < end; ++z) {
    if ((z & 1) == 0) {
      VELTO_PREFETCH_READ(ahead(ex + z));
      VELTO_PREFETCH_WRITE(ahead(h + z));
    }
    const FieldNode& n0 = e0[z];
    const FieldNode& nx = ex[z];
    const FieldNode& ny = ey[z];
    const FieldNode& nz = e0[z + 1];
    FieldNode& out = h[z];
    out.x = out.x - c * ((ny.z - n0.z) - (nz.y - n0.y));
    out.y = out.y - c * ((nz.x - n0.x) - (nx.z - n0.z));
    out.z = out.z - c * ((nx.y - n0.y) - (ny.x - n0.x));
  }
}

// One z row of the E half-step, with H read one position back on each axis.
void update_e_row(FieldNode* VELTO_RESTRICT e, const FieldNode* VELTO_RESTRICT h0,
                  const FieldNode* VELTO_RESTRICT hx, const FieldNode* VELTO_RESTRICT hy,
                  std::size_t end, double c) {
  VELTO_UNROLL(4)
  for (std::size_t z = 2; z < end; ++z) {
    if ((z & 1) == 0) {
      VELTO_PREFETCH_READ(ahead(h0 + z));
      VELTO_PREFETCH_WRITE(ahead(e + z));
    }
    const FieldNode& n0 = h0[z];
    const FieldNode& nx = hx[z];
    const FieldNode& ny = hy[z];
    const FieldNode& nz = h0[z - 1];
    FieldNode& out = e[z];
    out.x = out.x + c * ((n0.z - ny.z) - (n0.y - nz.y));
    out.y = out.y + c * ((n0.x - nz.x) - (n0.z - nx.z));
    out.z = out.z + c * ((n0.y - nx.y) - (n0.x - ny.x));
  }
}

// The two squared sums of one node's energy: E at the node, and H averaged
// with its neighbour one position back along each component's own axis.
struct EnergyTerms {
  double s_e;
  double s_h;
};

inline EnergyTerms energy_terms(const FieldNode& e, const FieldNode& h, const FieldNode& hx,
                                const FieldNode& hy, const FieldNode& hz) {
  const double ax = 0.5 * (hx.x + h.x);
  const double ay = 0.5 * (hy.y + h.y);
  const double az = 0.5 * (hz.z + h.z);
  return {(e.x * e.x + e.y * e.y) + e.z * e.z, (ax * ax + ay * ay) + az * az};
}

double energy_row(const FieldNode* VELTO_RESTRICT e, const FieldNode* VELTO_RESTRICT h0,
                  const FieldNode* VELTO_RESTRICT hx, const FieldNode* VELTO_RESTRICT hy,
                  std::size_t end, double half_volume, double sum) {
  for (std::size_t z = 2; z < end; ++z) {
    const EnergyTerms t = energy_terms(e[z], h0[z], hx[z], hy[z], h0[z - 1]);
    sum = sum + (t.s_h + t.s_e) * half_volume;
  }
  return sum;
}

} // namespace

bool fields_ready(const FieldState& state) {
  const std::uint64_t edge = state.e.edge;
  if (edge == 0 || state.h.edge != edge || state.e.nodes.empty() || state.h.nodes.empty()) {
    return false;
  }
  // The buffers were sized in the size type, so a matching count also proves
  // that every index below fits it.
  const std::uint64_t count = state.e.nodes.count();
  return count == state.h.nodes.count() && edge <= count / edge && edge * edge <= count / edge &&
         edge * edge * edge == count;
}

bool update_h(FieldState& state) {
  if (!fields_ready(state) || state.e.edge < 3) {
    return false;
  }
  const auto edge = static_cast<std::size_t>(state.e.edge);
  const std::size_t end = edge - 2;
  const std::size_t plane = edge * edge;
  const double c = state.coef_h;
  FieldNode* const h = state.h.nodes.data();
  const FieldNode* const e = state.e.nodes.data();
  for (std::size_t x = 1; x < end; ++x) {
    for (std::size_t y = 1; y < end; ++y) {
      const std::size_t row = (x * edge + y) * edge;
      update_h_row(h + row, e + row, e + row + plane, e + row + edge, end, c);
    }
  }
  return true;
}

bool update_e(FieldState& state) {
  if (!fields_ready(state) || state.e.edge < 3) {
    return false;
  }
  const auto edge = static_cast<std::size_t>(state.e.edge);
  const std::size_t end = edge - 1;
  const std::size_t plane = edge * edge;
  const double c = state.coef_e;
  FieldNode* const e = state.e.nodes.data();
  const FieldNode* const h = state.h.nodes.data();
  for (std::size_t x = 2; x < end; ++x) {
    for (std::size_t y = 2; y < end; ++y) {
      const std::size_t row = (x * edge + y) * edge;
      update_e_row(e + row, h + row, h + row - plane, h + row - edge, end, c);
    }
  }
  return true;
}

double node_energy(const FieldState& state, std::uint64_t x, std::uint64_t y, std::uint64_t z) {
  assert(fields_ready(state));
  assert(x >= 1 && y >= 1 && z >= 1);
  assert(x < state.e.edge && y < state.e.edge && z < state.e.edge);
  const auto edge = static_cast<std::size_t>(state.e.edge);
  const std::size_t at = (static_cast<std::size_t>(x) * edge + static_cast<std::size_t>(y)) * edge +
                         static_cast<std::size_t>(z);
  const FieldNode* const h = state.h.nodes.data();
  const EnergyTerms t =
      energy_terms(state.e.nodes.data()[at], h[at], h[at - edge * edge], h[at - edge], h[at - 1]);
  return (t.s_e + t.s_h) * (state.dV * 0.5);
}

double total_energy(const FieldState& state) {
  double sum = 0.0;
  if (!fields_ready(state) || state.e.edge < 4) {
    return sum;
  }
  const auto edge = static_cast<std::size_t>(state.e.edge);
  const std::size_t end = edge - 1;
  const std::size_t plane = edge * edge;
  const double half_volume = state.dV * 0.5;
  const FieldNode* const e = state.e.nodes.data();
  const FieldNode* const h = state.h.nodes.data();
  for (std::size_t x = 2; x < end; ++x) {
    for (std::size_t y = 2; y < end; ++y) {
      const std::size_t row = (x * edge + y) * edge;
      sum = energy_row(e + row, h + row, h + row - plane, h + row - edge, end, half_volume, sum);
    }
  }
  return sum;
}

} // namespace velto
