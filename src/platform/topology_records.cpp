// Parsing the Windows processor-information buffer: only code that is the same
// on every OS, so any host can test it on buffers of either pointer width.
#include "platform/topology_records.hpp"

#include <algorithm>

namespace velto {
namespace {

// Layout of SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX. The union after the
// 8-byte header starts at offset 8 for both pointer widths, and every
// GROUP_AFFINITY array sits at an offset that is a multiple of 8, so the
// offsets below hold for 32-bit and 64-bit writers alike.
constexpr std::size_t kHeaderSize = 8;
constexpr std::uint32_t kRelationProcessorCore = 0;
constexpr std::uint32_t kRelationNumaNode = 1;
constexpr std::uint32_t kRelationCache = 2;

constexpr std::size_t kCoreEfficiencyClass = 9; // the byte after Flags
constexpr std::size_t kCoreGroupCount = 30;
constexpr std::size_t kCoreGroupMasks = 32;
constexpr std::size_t kNodeNumber = 8;
constexpr std::size_t kNodeGroupCount = 30;
constexpr std::size_t kNodeGroupMasks = 32;
constexpr std::size_t kCacheLevel = 8;
constexpr std::size_t kCacheGroupCount = 38;
constexpr std::size_t kCacheGroupMasks = 40;

std::uint64_t read_le(std::span<const std::byte> bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    value |= std::to_integer<std::uint64_t>(bytes[offset + i]) << (8 * i);
  }
  return value;
}

std::uint16_t read_u16(std::span<const std::byte> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(read_le(bytes, offset, 2));
}

std::uint32_t read_u32(std::span<const std::byte> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(read_le(bytes, offset, 4));
}

// A GROUP_AFFINITY is a pointer-wide Mask, a 16-bit Group and three reserved
// words. Only as many entries as fit in the record are read.
std::vector<GroupAffinity> read_group_masks(std::span<const std::byte> record, std::size_t offset,
                                            std::size_t count, std::size_t pointer_size) {
  const std::size_t entry_size = pointer_size + 8;
  const std::size_t fit = record.size() > offset ? (record.size() - offset) / entry_size : 0;
  count = std::min(count, fit);
  std::vector<GroupAffinity> masks;
  masks.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = offset + i * entry_size;
    masks.push_back({read_le(record, entry, pointer_size), read_u16(record, entry + pointer_size)});
  }
  return masks;
}

} // namespace

TopologyRecords parse_processor_information(std::span<const std::byte> buffer,
                                            std::size_t pointer_size) {
  TopologyRecords result;
  if (pointer_size != 4 && pointer_size != 8) {
    result.mask_width = 0;
    return result;
  }
  result.mask_width = static_cast<std::uint32_t>(pointer_size * 8);

  std::size_t offset = 0;
  while (buffer.size() - offset >= kHeaderSize) {
    const std::uint32_t relationship = read_u32(buffer, offset);
    const std::uint32_t size = read_u32(buffer, offset + 4);
    // A size that cannot hold the header would loop forever or step backwards;
    // one that runs past the buffer has no trustworthy successor either.
    if (size < kHeaderSize || size > buffer.size() - offset) {
      break;
    }
    const std::span<const std::byte> record = buffer.subspan(offset, size);
    offset += size;

    TopologyRecord parsed;
    if (relationship == kRelationProcessorCore) {
      if (size < kCoreGroupMasks) {
        continue;
      }
      parsed.kind = RecordKind::core;
      parsed.efficiency_class = std::to_integer<std::uint8_t>(record[kCoreEfficiencyClass]);
      parsed.affinities = read_group_masks(record, kCoreGroupMasks,
                                           read_u16(record, kCoreGroupCount), pointer_size);
    } else if (relationship == kRelationNumaNode) {
      if (size < kNodeGroupMasks) {
        continue;
      }
      parsed.kind = RecordKind::numa_node;
      parsed.node_number = read_u32(record, kNodeNumber);
      // Before Windows 11 GroupCount was reserved and zero, with exactly one
      // GroupMask; later a node of more than one group lists each of them.
      const std::size_t count = std::max<std::size_t>(read_u16(record, kNodeGroupCount), 1);
      parsed.affinities = read_group_masks(record, kNodeGroupMasks, count, pointer_size);
    } else if (relationship == kRelationCache) {
      if (size < kCacheGroupMasks) {
        continue;
      }
      if (std::to_integer<std::uint8_t>(record[kCacheLevel]) != 3) {
        continue;
      }
      parsed.kind = RecordKind::l3_cache;
      const std::size_t count = std::max<std::size_t>(read_u16(record, kCacheGroupCount), 1);
      parsed.affinities = read_group_masks(record, kCacheGroupMasks, count, pointer_size);
    } else {
      continue;
    }
    result.records.push_back(std::move(parsed));
  }
  return result;
}

} // namespace velto
