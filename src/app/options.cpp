// The option table and its parser. Only code that is the same on every OS.
#include "app/options.hpp"

#include "solver/workload.hpp"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <limits>
#include <memory>
#include <optional>

namespace velto {

namespace {

// Numbers on the command line are decimal digits and nothing else: no sign,
// blank, prefix or exponent, and "010" is ten. The parser's own conversion
// would take "0x10" or "010" as hexadecimal or octal.
template <typename T> T parse_decimal(const std::string& text, const std::string& option) {
  const auto fail = [&] {
    return CLI::ConversionError(
        fmt::format("Could not convert '{}' for option {}: expected a whole number from 0 to {}",
                    text, option, std::numeric_limits<T>::max()));
  };
  if (text.empty()) {
    throw fail();
  }
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      throw fail();
    }
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<T>::max() - digit) / 10) {
      throw fail();
    }
    value = value * 10 + digit;
  }
  return static_cast<T>(value);
}

// A decimal number from `low` to `high`, or the parser's error naming that range.
std::uint32_t parse_in_range(const std::string& text, const std::string& option, std::uint32_t low,
                             std::uint32_t high) {
  std::uint32_t value = 0;
  try {
    value = parse_decimal<std::uint32_t>(text, option);
  } catch (const CLI::ConversionError&) {
    throw CLI::ConversionError(
        fmt::format("Could not convert '{}' for option {}: expected a whole number from {} to {}",
                    text, option, low, high));
  }
  if (value < low || value > high) {
    throw CLI::ValidationError(
        fmt::format("Value {} for option {} is out of range: expected a whole number from {} to {}",
                    text, option, low, high));
  }
  return value;
}

// The usage text: a "USAGE:" section with the executable and every option, and
// an "OPTIONS, ARGUMENTS:" section with each option's names, value hint and help.
class UsageFormatter : public CLI::FormatterBase {
public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    const auto options = app->get_options([](const CLI::Option*) { return true; });
    std::string usage = "USAGE:\n  " + app->get_name();
    std::string details = "OPTIONS, ARGUMENTS:\n";
    for (const CLI::Option* option : options) {
      std::vector<std::string> names;
      for (const auto& s : option->get_snames()) {
        names.push_back("-" + s);
      }
      for (const auto& l : option->get_lnames()) {
        names.push_back("--" + l);
      }
      std::string hint;
      if (option->get_items_expected() > 0) { // flags take no value
        // The value hint as declared, without the choices the parser appends.
        const std::string type = option->get_type_name();
        hint = " <" + type.substr(0, type.find(':')) + ">";
      }
      usage += fmt::format(" [{}{}]", fmt::join(names, "|"), hint);
      details += fmt::format("  {}{}\n", fmt::join(names, ", "), hint);
      if (!option->get_description().empty()) {
        details += fmt::format("{:26}{}\n", "", option->get_description());
      }
    }
    return usage + "\n\n" + details;
  }
};

} // namespace

std::string grid_sizes_text() {
  return fmt::format("{}", fmt::join(grid_sizes, ", "));
}

std::string workload_names_text() {
  return join_choice_names(workload_table);
}

std::string executable_name(std::string_view first_argument) {
  const auto slash = first_argument.find_last_of("/\\");
  if (slash == std::string_view::npos) {
    return std::string(first_argument);
  }
  return std::string(first_argument.substr(slash + 1));
}

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
  CommandLine line;
  RunConfig& config = line.config;

  const std::string name = arguments.empty() ? std::string() : executable_name(arguments[0]);
  CLI::App app("", name);
  app.set_help_flag(); // the help is an ordinary flag, honoured after the checks
  app.formatter(std::make_shared<UsageFormatter>());

  // The help texts with placeholders are formatted once, here.
  app.add_flag("-?,-h,--help", line.help, "Display usage information.");
  CLI::Option* const numthreads = app.add_option_function<std::string>(
                                         "-n,--numthreads",
                                         [&](const std::string& v) {
                                           config.thread_count =
                                               parse_decimal<std::uint32_t>(v, "--numthreads");
                                         },
                                         "Number of threads to use")
                                      ->type_name("numthreads");
  CLI::Option* const duration =
      app.add_option_function<std::string>(
             "-d,--duration",
             [&](const std::string& v) {
               config.duration = parse_decimal<std::uint32_t>(v, "--duration");
             },
             fmt::format("Bench duration (s) between {}-{}s", min_duration, max_duration))
          ->type_name("duration");
  CLI::Option* const size = app.add_option_function<std::string>(
                                   "-s,--size",
                                   [&](const std::string& v) {
                                     config.grid_size = parse_decimal<std::uint64_t>(v, "--size");
                                   },
                                   fmt::format("Grid size, one of [{}]", grid_sizes_text()))
                                ->type_name("size");
  // A name outside the table is kept for the driver's message, which comes
  // after the fish and the size check.
  CLI::Option* const workload =
      app.add_option_function<std::string>(
             "--workload",
             [&](const std::string& v) {
               const std::optional<WorkloadKind> kind = choice_named(workload_table, v);
               if (kind) {
                 config.workload = *kind;
                 line.unknown_workload.reset();
               } else {
                 line.unknown_workload = v;
               }
             },
             fmt::format("Workload to use (results with different workloads aren't "
                         "comparable), one of [{}]",
                         workload_names_text()))
          ->type_name("workload");
  // The parser admits only the table's names, so the callback always finds one.
  CLI::Option* const threading =
      app.add_option_function<std::string>(
             "--threading",
             [&](const std::string& v) {
               config.threading = choice_named(threading_table, v).value_or(Threading::os);
             },
             "Threading manager to use")
          ->type_name("threading")
          ->check(CLI::IsMember(choice_names(threading_table)));
  app.add_flag("--large-pages", config.large_pages, "Use large pages allocator");
  app.add_flag("--bypass-timer-check", config.bypass_timer_check,
               "Run the bench even if the timer is not HWBOT compliant");
  app.add_flag("--topo-debug", line.topology, "Print detected topology for debug");
  app.add_flag("--timer-debug", line.timers, "Printed detected timers");
  CLI::Option* const runs =
      app.add_option_function<std::string>(
             "--runs",
             [&](const std::string& v) {
               line.runs = parse_decimal<std::uint32_t>(v, "--runs");
               if (line.runs < min_runs || line.runs > max_runs) {
                 throw CLI::ValidationError(
                     fmt::format("Value {} for option --runs is out of range: expected a whole "
                                 "number from {} to {}",
                                 v, min_runs, max_runs));
               }
             },
             fmt::format("Complete runs to make, {}-{}, then a summary of their scores", min_runs,
                         max_runs))
          ->type_name("runs");
  app.add_option("--export-json", line.export_json,
                 "Write the result record (JSON) of the invocation to path")
      ->type_name("path");
  app.add_flag("--no-prompt", line.no_prompt, "Exit without waiting for Enter");
  CLI::Option* const stress =
      app.add_option_function<std::string>(
             "--stress",
             [&](const std::string& v) {
               line.stress_minutes = parse_in_range(v, "--stress", 0, max_stress_minutes);
             },
             fmt::format("Run a stability test for minutes (0-{}, 0 runs until Ctrl-C) instead "
                         "of the bench",
                         max_stress_minutes))
          ->type_name("minutes");
  stress->excludes(runs)->excludes(duration);
  app.add_option_function<std::string>(
         "--stress-load",
         [&](const std::string& v) {
           line.stress_load = choice_named(stress_load_table, v).value_or(StressLoad::steady);
         },
         "Stability test load: steady, cycle (one core at a time) or pulse (on and off)")
      ->type_name("load")
      ->check(CLI::IsMember(choice_names(stress_load_table)))
      ->needs(stress);
  app.add_option_function<std::string>(
         "--stress-dwell",
         [&](const std::string& v) {
           line.stress_dwell =
               parse_in_range(v, "--stress-dwell", min_stress_dwell, max_stress_dwell);
         },
         fmt::format("Seconds on each core of the cycle load, {}-{}", min_stress_dwell,
                     max_stress_dwell))
      ->type_name("seconds")
      ->needs(stress);
  app.add_flag("--stop-on-error", line.stop_on_error, "End the stability test at its first error")
      ->needs(stress);
  app.add_flag("--roofline", line.roofline,
               "Measure the memory bandwidth first and show each score against it")
      ->excludes(stress);
  app.add_flag("--scaling", line.scaling,
               "Run at 1, 2, 4, ... threads up to the automatic count, then a scaling table")
      ->excludes(stress)
      ->excludes(numthreads);
  app.add_flag("--version", line.version, "Display version information.");
  app.add_flag("--velto", line.fish);

  // A repeated option takes its last value, as a flag does.
  for (CLI::Option* option : app.get_options()) {
    option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }

  line.usage = app.help();

  // The parser reads an argument vector whose first entry is the program.
  std::vector<const char*> argv = {name.c_str()};
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    argv.push_back(arguments[i].c_str());
  }
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
    line.size_given = size->count() > 0;
    line.workload_given = workload->count() > 0;
    line.threading_given = threading->count() > 0;
  } catch (const CLI::ParseError& e) {
    line.error = e.what();
    if (line.error.empty()) {
      line.error = e.get_name();
    }
  }
  return line;
}

} // namespace velto
