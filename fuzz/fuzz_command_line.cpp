// Any argument vector through the main flow: parsing, validation and the
// printouts run for real; the fish plays without sleeping, a run is only
// recorded, never started, and a result record is parsed, never written.
#include "app/console.hpp"
#include "app/driver.hpp"
#include "app/options.hpp"
#include "solver/workload.hpp"

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

  // No file is touched: the path is always writable and the record is kept.
  int records = 0;
  services.check_record_path = [](const std::string&) { return std::string(); };
  services.write_record = [&](const std::string&, std::string_view text) {
    if (!nlohmann::json::accept(text)) {
      fail("the result record is not JSON");
    }
    ++records;
    return std::string();
  };
  services.probe_machine = [](velto::TopologyCache&) { return velto::MachineFacts{}; };
  services.probe_timers = [] { return velto::TimerFacts{}; };
  services.now = [] { return std::string("2026-01-01T00:00:00Z"); };

  const int status = velto::velto_main(arguments, in, out, err, services);
  const std::string printed = out.str();
  const std::string errors = err.str();

  if (status != 0 && status != 1) {
    fail("status is neither 0 nor 1");
  }
  if (fish_played > 1 || runs.size() > velto::max_runs || (fish_played == 1 && !runs.empty())) {
    fail("more than one action was taken");
  }
  if (records > 1 || (records == 1 && runs.empty())) {
    fail("a record was written without a run, or twice");
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
    // --no-prompt leaves the prompt out, and then the last run's verdict
    // (nothing here) or the series' summary ends the output.
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
