// Field storage: the nodes of one field, one grid, and the state the kernels read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto {

/// One grid node: three components and a fourth that is always 0.0 and that no
/// computation reads (it pads the node to 32 bytes).
struct FieldNode {
  double x;
  double y;
  double z;
  double w;
};
static_assert(sizeof(FieldNode) == 32, "nodes are 32 bytes apart");

/// Where field blocks come from. The default is the memory services (regular
/// 64-byte-aligned blocks or large pages); tests replace it to make an
/// allocation fail.
class FieldAllocator {
public:
  virtual ~FieldAllocator() = default;
  /// A block of `bytes` bytes of the kind asked for, or null.
  virtual void* allocate(std::size_t bytes, bool large_pages) = 0;
  /// Releases a block from allocate with the same kind; null does nothing.
  virtual void release(void* block, bool large_pages) = 0;
};

/// The memory services: alloc_aligned/free_aligned or alloc_large_pages/free_large_pages.
FieldAllocator& default_field_allocator();

/// The nodes of one field. Owns its block exclusively; move-only. A buffer that
/// could not be allocated is empty (count 0, data null); nothing is thrown.
class FieldBuffer {
public:
  FieldBuffer() = default;
  /// Allocates `count` zeroed nodes; stays empty when count is 0, when
  /// count × 32 overflows the size type, or when the allocator returns null.
  FieldBuffer(bool large_pages, std::size_t count,
              FieldAllocator& allocator = default_field_allocator());
  FieldBuffer(FieldBuffer&& other) noexcept;
  FieldBuffer& operator=(FieldBuffer&& other) noexcept;
  FieldBuffer(const FieldBuffer&) = delete;
  FieldBuffer& operator=(const FieldBuffer&) = delete;
  ~FieldBuffer();

  /// Returns the block through the service that matches its kind; the buffer is
  /// then empty. Releasing an empty buffer does nothing.
  void release();

  bool large_pages() const { return large_pages_; }
  std::size_t count() const { return count_; }
  FieldNode* data() const { return data_; }
  bool empty() const { return data_ == nullptr; }

private:
  bool large_pages_ = false;
  std::size_t count_ = 0;
  FieldNode* data_ = nullptr;
  FieldAllocator* allocator_ = nullptr;
};

/// One field: edge L = N + 2 and its L³ nodes, z fastest, x slowest.
struct FieldGrid {
  std::uint64_t edge = 0;
  FieldBuffer nodes;
};

/// What the workload's allocate receives.
struct FieldConfig {
  bool large_pages = false;    ///< both fields in large pages
  std::uint64_t grid_size = 0; ///< N
  double dx = 0.0;             ///< grid spacing
};

/// Everything the kernels read: both fields and the step constants.
struct FieldState {
  FieldGrid e;
  FieldGrid h;
  double dx = 0.0;
  double dt = 0.0;
  double dV = 0.0;
  double coef_e = 0.0;
  double coef_h = 0.0;

  FieldState() = default;
  /// Builds both grids (E first, then H) and the constants from `config`.
  explicit FieldState(const FieldConfig& config,
                      FieldAllocator& allocator = default_field_allocator());
};

/// 32 × (N + 2)³ bytes, wrapping in 64 bits: the block of one field.
std::uint64_t field_bytes(std::uint64_t grid_size);

/// How many field blocks one thread allocates: E and H.
inline constexpr std::uint64_t fields_per_thread = 2;

/// 64 × (N + 2)³ bytes, wrapping in 64 bits: the two fields of one thread.
std::uint64_t memory_per_thread(std::uint64_t grid_size);

/// Which of the grid-size limits a size breaks, checked in this order.
enum class GridSizeLimit {
  ok,
  address_space,      ///< (N + 2)³ does not fit the size type
  memory_calculation, ///< (N + 2)³ × 32 overflows the size type
  slice_buffer,       ///< N × N overflows 64 bits
};

/// The grid-size limits for a size type whose largest value is `size_max`
/// (SIZE_MAX of the build by default; tests pass the other width).
GridSizeLimit check_grid_size(std::uint64_t grid_size, std::uint64_t size_max = SIZE_MAX);

} // namespace velto
