// Field storage: node buffers, the per-thread field state and the grid-size limits.
#include "solver/field.hpp"

#include "platform/memory.hpp"

#include <cmath>
#include <cstdint>
#include <utility>

namespace velto {
namespace {

class MemoryServicesAllocator final : public FieldAllocator {
public:
  void* allocate(std::size_t bytes, bool large_pages) override {
    return large_pages ? alloc_large_pages(bytes) : alloc_aligned(bytes);
  }
  void release(void* block, bool large_pages) override {
    if (large_pages) {
      free_large_pages(block);
    } else {
      free_aligned(block);
    }
  }
};

/// a × b × c in 64 bits, or false when the product does not fit.
bool cube_fits(std::uint64_t edge, std::uint64_t& cube) {
  if (edge != 0 && edge > UINT64_MAX / edge) {
    return false;
  }
  const std::uint64_t square = edge * edge;
  if (edge != 0 && square > UINT64_MAX / edge) {
    return false;
  }
  cube = square * edge;
  return true;
}

/// L³ nodes for one grid, or 0 when that count does not fit the size type (the
/// buffer then stays empty and allocate reports the failure, instead of a
/// wrapped count giving a block too small for the grid).
std::size_t node_count(std::uint64_t edge) {
  std::uint64_t cube = 0;
  if (!cube_fits(edge, cube) || cube > SIZE_MAX) {
    return 0;
  }
  return static_cast<std::size_t>(cube);
}

} // namespace

FieldAllocator& default_field_allocator() {
  static MemoryServicesAllocator allocator;
  return allocator;
}

FieldBuffer::FieldBuffer(bool large_pages, std::size_t count, FieldAllocator& allocator)
    : large_pages_(large_pages), allocator_(&allocator) {
  if (count == 0 || count > SIZE_MAX / sizeof(FieldNode)) {
    return;
  }
  void* block = allocator.allocate(count * sizeof(FieldNode), large_pages);
  if (block == nullptr) {
    return;
  }
  // Every page is written once here, by the thread that will compute on it.
  auto* nodes = static_cast<FieldNode*>(block);
  for (std::size_t i = 0; i < count; ++i) {
    nodes[i].x = 0.0;
    nodes[i].y = 0.0;
    nodes[i].z = 0.0;
    nodes[i].w = 0.0;
  }
  count_ = count;
  data_ = nodes;
}

FieldBuffer::FieldBuffer(FieldBuffer&& other) noexcept
    : large_pages_(other.large_pages_), count_(std::exchange(other.count_, 0)),
      data_(std::exchange(other.data_, nullptr)), allocator_(other.allocator_) {}

FieldBuffer& FieldBuffer::operator=(FieldBuffer&& other) noexcept {
  if (this != &other) {
    release();
    large_pages_ = other.large_pages_;
    count_ = std::exchange(other.count_, 0);
    data_ = std::exchange(other.data_, nullptr);
    allocator_ = other.allocator_;
  }
  return *this;
}

FieldBuffer::~FieldBuffer() {
  release();
}

void FieldBuffer::release() {
  if (data_ != nullptr) {
    allocator_->release(data_, large_pages_);
  }
  data_ = nullptr;
  count_ = 0;
}

FieldState::FieldState(const FieldConfig& config, FieldAllocator& allocator) {
  const std::uint64_t edge = config.grid_size + 2;
  const std::size_t count = config.grid_size > UINT64_MAX - 2 ? 0 : node_count(edge);
  e.edge = edge;
  e.nodes = FieldBuffer(config.large_pages, count, allocator);
  h.edge = edge;
  h.nodes = FieldBuffer(config.large_pages, count, allocator);
  dx = config.dx;
  dt = dx * 0.5;
  dV = std::pow(dx, 3.0);
  coef_e = (dx * 0.5) / dx;
  coef_h = (dx * 0.5) / dx;
}

std::uint64_t field_bytes(std::uint64_t grid_size) {
  const std::uint64_t edge = grid_size + 2;
  return sizeof(FieldNode) * edge * edge * edge;
}

std::uint64_t memory_per_thread(std::uint64_t grid_size) {
  return fields_per_thread * field_bytes(grid_size);
}

GridSizeLimit check_grid_size(std::uint64_t grid_size, std::uint64_t size_max) {
  // A node count that wraps in 64 bits cannot fit any address space either.
  std::uint64_t nodes = 0;
  if (grid_size > UINT64_MAX - 2 || !cube_fits(grid_size + 2, nodes) || nodes > size_max) {
    return GridSizeLimit::address_space;
  }
  if (nodes > size_max / sizeof(FieldNode)) {
    return GridSizeLimit::memory_calculation;
  }
  if (grid_size != 0 && grid_size > UINT64_MAX / grid_size) {
    return GridSizeLimit::slice_buffer;
  }
  return GridSizeLimit::ok;
}

} // namespace velto
