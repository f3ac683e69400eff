// Any argument vector through the main flow on a scripted machine: parsing,
// validation, the printouts and the run engine run for real; the fish plays
// without sleeping, a run starts no thread and makes no workload, and a result
// record is parsed, never written.
#include "app/driver.hpp"
#include "app/options.hpp"
#include "solver/workload.hpp"
#include "support/scripted_machine.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace {

[[noreturn]] void fail(const char* property) {
  std::fprintf(stderr, "fuzz_command_line: %s\n", property);
  std::abort();
}

// The input bytes split on '\0'; the first piece is the program's path.
std::vector<std::string> split_arguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments;
  if (size == 0) {
    return arguments;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  while (true) {
    const std::size_t end = bytes.find('\0', start);
    arguments.emplace_back(bytes.substr(start, end - start));
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  return arguments;
}

bool ends_with(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         std::string_view(text).substr(text.size() - suffix.size()) == suffix;
}

// The grid sizes the run headers in `printed` name ("{n} x {n} x {n} grid").
std::vector<std::uint64_t> header_grid_sizes(const std::string& printed) {
  std::vector<std::uint64_t> sizes;
  for (std::size_t end = printed.find(" grid\n"); end != std::string::npos;
       end = printed.find(" grid\n", end + 1)) {
    const std::size_t start = printed.rfind('\n', end) + 1; // npos + 1 is 0
    sizes.push_back(std::strtoull(printed.c_str() + start, nullptr, 10));
  }
  return sizes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> arguments = split_arguments(data, size);

  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;

  // Runs go through the real engine, but no thread starts and no workload is
  // made, so each one ends at once, invalid; the record is kept, not written.
  velto::testing::ScriptedMachine machine;
  machine.available = std::uint64_t{1} << 30;
  machine.starter = [](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  const velto::WorkloadFactory no_workloads = [](velto::WorkloadKind, std::uint32_t) {
    return std::unique_ptr<velto::Workload>();
  };

  const int status = velto::velto_main(arguments, in, out, err, machine, no_workloads);
  const std::string printed = out.str();
  const std::string errors = err.str();

  if (status != 0 && status != 1) {
    fail("status is neither 0 nor 1");
  }
  const bool fish_played = machine.terminal_.slept_ms > 0;
  // Every run asks for the available memory before anything else; nothing
  // but a run (and its record) does.
  const bool ran = machine.memory_queries.load() > 0;
  if (fish_played && ran) {
    fail("more than one action was taken");
  }
  if (machine.files.size() > 1 || (machine.files.size() == 1 && !ran)) {
    fail("a record was written without a run, or twice");
  }
  for (const auto& [path, text] : machine.files) {
    const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
    if (record.is_discarded()) {
      fail("the result record is not JSON");
    }
    if (record["runs"].size() < 1 || record["runs"].size() > velto::max_runs) {
      fail("the record holds no run, or more than --runs allows");
    }
  }
  if (ran) {
    // Only a validated grid size reaches the run, and an invalid report
    // ends with the prompt and status 1.
    for (const std::uint64_t n : header_grid_sizes(printed)) {
      if (std::find(velto::grid_sizes.begin(), velto::grid_sizes.end(), n) ==
          velto::grid_sizes.end()) {
        fail("a run was made with a grid size outside the list");
      }
    }
    // --no-prompt leaves the prompt out, and then the last run's verdict or
    // the series' summary ends the output.
    const bool prompted = !velto::parse_command_line(arguments).no_prompt;
    if (status != 1 || (prompted && !ends_with(printed, "press enter to exit\n"))) {
      fail("an invalid run did not end with the prompt and status 1");
    }
    return 0;
  }
  if (status == 1) {
    if (errors.empty() || errors.back() != '\n') {
      fail("a failure wrote no complete line to the error stream");
    }
    if (!printed.empty()) {
      fail("a failure wrote to the output stream");
    }
  } else {
    if (printed.empty() || printed.back() != '\n') {
      fail("a printout wrote no complete line to the output stream");
    }
    if (!errors.empty()) {
      fail("a printout wrote to the error stream");
    }
  }
  return 0;
}
