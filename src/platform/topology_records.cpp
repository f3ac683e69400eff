// Parsing the Windows processor-information buffer, and cutting records down to
// the processors a process may use: only code that is the same on every OS, so
// any host can test it on buffers of either pointer width and on any machine.
#include "platform/topology_records.hpp"

#include <algorithm>
#include <bit>
#include <map>

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

// The union of the masks of each group; groups without a processor left out.
std::map<std::uint16_t, std::uint64_t> masks_by_group(const ProcessorSet& set) {
  std::map<std::uint16_t, std::uint64_t> masks;
  for (const GroupAffinity& affinity : set) {
    if (affinity.mask != 0) {
      masks[affinity.group] |= affinity.mask;
    }
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

TopologyRecords restrict_to_processors(const TopologyRecords& records,
                                       const ProcessorSet& allowed) {
  const std::map<std::uint16_t, std::uint64_t> allowed_in = masks_by_group(allowed);
  if (allowed_in.empty()) {
    return records;
  }
  // Bits beyond the mask width name no processor of the tree.
  const std::uint64_t width_mask =
      records.mask_width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << records.mask_width) - 1;
  TopologyRecords result;
  result.mask_width = records.mask_width;
  std::uint32_t cores = 0;
  std::uint32_t caches = 0;
  for (const TopologyRecord& record : records.records) {
    std::optional<std::uint32_t> ordinal;
    if (record.kind == RecordKind::core || record.kind == RecordKind::l3_cache) {
      std::uint32_t& position = record.kind == RecordKind::core ? cores : caches;
      ordinal = record.ordinal.value_or(position);
      ++position;
    }
    TopologyRecord kept;
    kept.kind = record.kind;
    kept.efficiency_class = record.efficiency_class;
    kept.node_number = record.node_number;
    kept.ordinal = ordinal;
    for (const GroupAffinity& affinity : record.affinities) {
      const auto found = allowed_in.find(affinity.group);
      const std::uint64_t mask =
          found == allowed_in.end() ? 0 : affinity.mask & found->second & width_mask;
      if (mask != 0) {
        kept.affinities.push_back({mask, affinity.group});
      }
    }
    if (!kept.affinities.empty()) {
      result.records.push_back(std::move(kept));
    }
  }
  return result;
}

std::uint32_t processor_count(const ProcessorSet& set) {
  std::uint32_t count = 0;
  for (const auto& [group, mask] : masks_by_group(set)) {
    count += static_cast<std::uint32_t>(std::popcount(mask));
  }
  return count;
}

} // namespace velto
