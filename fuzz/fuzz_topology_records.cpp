// Arbitrary bytes as the processor-information buffer, read as a 32-bit and as
// a 64-bit process receives it, then built into the tree and printed.
#include "platform/topology.hpp"
#include "platform/topology_records.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char* property, std::size_t pointer_size) {
  std::fprintf(stderr, "fuzz_topology_records (%zu-byte pointers): %s\n", pointer_size, property);
  std::abort();
}

void check(std::span<const std::byte> buffer, std::size_t pointer_size) {
  const velto::TopologyRecords records = velto::parse_processor_information(buffer, pointer_size);
  const std::uint32_t width = static_cast<std::uint32_t>(pointer_size * 8);
  if (records.mask_width != width) {
    fail("the mask width is not the pointer width", pointer_size);
  }

  // Every record has its 8-byte header and every affinity read its
  // pointer-wide mask and group from inside the buffer.
  std::size_t affinity_bytes = 0;
  std::size_t core_records = 0;
  std::size_t core_processors = 0;
  for (const velto::TopologyRecord& record : records.records) {
    affinity_bytes += 8 + record.affinities.size() * (pointer_size + 8);
    for (const velto::GroupAffinity& affinity : record.affinities) {
      if (width < 64 && (affinity.mask >> width) != 0) {
        fail("a mask is wider than a pointer", pointer_size);
      }
    }
    if (record.kind == velto::RecordKind::core) {
      ++core_records;
      for (const velto::GroupAffinity& affinity : record.affinities) {
        core_processors += static_cast<std::size_t>(std::popcount(affinity.mask));
      }
    }
  }
  if (affinity_bytes > buffer.size()) {
    fail("the records hold more than the buffer", pointer_size);
  }

  const velto::Topology topology = velto::build_topology(records);
  std::size_t lines = 1;
  std::size_t cores = 0;
  std::size_t processors = 0;
  std::vector<bool> core_seen(core_records, false);
  for (std::size_t n = 0; n < topology.nodes.size(); ++n) {
    const velto::NumaNode& node = topology.nodes[n];
    if (n > 0 && topology.nodes[n - 1].id >= node.id) {
      fail("nodes are not in ascending order", pointer_size);
    }
    if (node.llcs.empty()) {
      fail("a node without a cache", pointer_size);
    }
    ++lines;
    for (std::size_t l = 0; l < node.llcs.size(); ++l) {
      const velto::Llc& llc = node.llcs[l];
      if (l > 0 && node.llcs[l - 1].id >= llc.id) {
        fail("caches are not in ascending order", pointer_size);
      }
      if (llc.cores.empty()) {
        fail("a cache without a core", pointer_size);
      }
      ++lines;
      for (std::size_t c = 0; c < llc.cores.size(); ++c) {
        const velto::Core& core = llc.cores[c];
        if (c > 0 && llc.cores[c - 1].id >= core.id) {
          fail("cores are not in ascending order", pointer_size);
        }
        if (core.id >= core_records || core_seen[core.id]) {
          fail("a core id is not the ordinal of one core record", pointer_size);
        }
        core_seen[core.id] = true;
        if (core.perf_level >= topology.perf_level_count) {
          fail("a performance level beyond the count", pointer_size);
        }
        ++cores;
        ++lines;
        for (std::size_t i = 0; i < core.logicals.size(); ++i) {
          const velto::LogicalProcessor& logical = core.logicals[i];
          if (logical.idx != i || logical.core != core.id) {
            fail("a logical processor's idx or core is wrong", pointer_size);
          }
          if (logical.os >= width) {
            fail("a processor number beyond the mask width", pointer_size);
          }
          ++processors;
          ++lines;
        }
      }
    }
  }
  if (cores != core_records || processors != core_processors) {
    fail("the tree lost or invented cores or processors", pointer_size);
  }
  if ((topology.perf_level_count == 0) != (core_records == 0) ||
      topology.perf_level_count > core_records) {
    fail("the performance level count does not match the cores", pointer_size);
  }

  std::ostringstream printed;
  velto::print_topology(topology, printed);
  const std::string text = printed.str();
  if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) != lines ||
      text.empty() || text.back() != '\n') {
    fail("the printout does not have one line per entry", pointer_size);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::byte> buffer(reinterpret_cast<const std::byte*>(data), size);
  check(buffer, 4);
  check(buffer, 8);
  return 0;
}
