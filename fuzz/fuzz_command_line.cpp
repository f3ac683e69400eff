// Any argument vector through the main flow: parsing, validation and the
// printouts run for real; the fish plays without sleeping and a run is only
// recorded, never started.
#include "app/console.hpp"
#include "app/driver.hpp"
#include "app/options.hpp"
#include "solver/workload.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// A console that accepts control sequences and never suspends the caller.
class InstantTerminal final : public velto::Terminal {
public:
  bool enable_virtual_terminal() override { return true; }
  std::optional<std::uint32_t> cursor_row() override { return std::nullopt; }
  void set_cursor_position(std::uint32_t, std::uint32_t) override {}
  void sleep_milliseconds(std::uint32_t) override {}
};

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> arguments = split_arguments(data, size);

  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  int fish_played = 0;
  std::vector<velto::RunConfig> runs;

  velto::DriverServices services;
  services.show_fish = [&] {
    velto::CursorState state;
    InstantTerminal terminal;
    velto::show_fish(state, terminal, out);
    ++fish_played;
  };
  services.run_benchmark = [&](velto::RunConfig config, velto::TopologyCache&, std::ostream&,
                               std::ostream&) {
    runs.push_back(std::move(config));
    return velto::ScoreReport{};
  };

  const int status = velto::velto_main(arguments, in, out, err, services);
  const std::string printed = out.str();
  const std::string errors = err.str();

  if (status != 0 && status != 1) {
    fail("status is neither 0 nor 1");
  }
  if (fish_played > 1 || runs.size() > 1 || (fish_played == 1 && !runs.empty())) {
    fail("more than one action was taken");
  }
  if (!runs.empty()) {
    // Only a validated configuration reaches the run, and an invalid report
    // ends with the prompt and status 1.
    const velto::RunConfig& config = runs.front();
    if (std::find(velto::grid_sizes.begin(), velto::grid_sizes.end(), config.grid_size) ==
        velto::grid_sizes.end()) {
      fail("a run was asked for with a grid size outside the list");
    }
    if (!velto::choice_named(velto::workload_table, config.workload)) {
      fail("a run was asked for with an unknown workload");
    }
    if (velto::name_of_choice(velto::threading_table, config.threading).empty()) {
      fail("a run was asked for with an unknown threading manager");
    }
    if (status != 1 || !ends_with(printed, "press enter to exit\n")) {
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
