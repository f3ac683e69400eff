// The option table and its parser. Only code that is the same on every OS.
#include "app/options.hpp"

#include "solver/workload.hpp"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

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

// The parser's error for a number outside `low`..`high`.
CLI::ValidationError out_of_range(const std::string& text, const std::string& option,
                                  std::uint32_t low, std::uint32_t high) {
  return CLI::ValidationError(
      fmt::format("Value {} for option {} is out of range: expected a whole number from {} to {}",
                  text, option, low, high));
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
    throw out_of_range(text, option, low, high);
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

// "a, b (note) or c (note)": every name of `table` in table order, each with
// its note when `notes` has one.
template <typename Choice, std::size_t N, std::size_t M>
std::string choices_text(const NameTable<Choice, N>& table, const NameTable<Choice, M>& notes) {
  std::string text;
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) {
      text += i + 1 < N ? ", " : " or ";
    }
    text += table[i].name;
    const std::string_view note = name_of_choice(notes, table[i].value);
    if (!note.empty()) {
      text += fmt::format(" ({})", note);
    }
  }
  return text;
}

// What the --stress-load help says beside a load's name; a load without a row
// is listed by its name alone.
constexpr NameTable<StressLoad, 2> stress_load_notes = {{
    {StressLoad::cycle, "one core at a time"},
    {StressLoad::pulse, "on and off"},
}};

// The member `field` names: one of the command line, or of its run configuration.
template <typename T> T& member(CommandLine& line, T CommandLine::*field) {
  return line.*field;
}
template <typename T> T& member(CommandLine& line, T RunConfig::*field) {
  return line.config.*field;
}

// Reads an option's value into the command line, or throws the parser's error
// naming `option`, the option's long name.
using ValueReader = void (*)(CommandLine& line, const std::string& value,
                             const std::string& option);

template <auto field>
void read_number(CommandLine& line, const std::string& value, const std::string& option) {
  auto& target = member(line, field);
  target = parse_decimal<std::remove_reference_t<decltype(target)>>(value, option);
}

template <auto field, std::uint32_t low, std::uint32_t high>
void read_in_range(CommandLine& line, const std::string& value, const std::string& option) {
  member(line, field) = parse_in_range(value, option, low, high);
}

// Unlike read_in_range, a text that is no number names the field's whole range.
void read_runs(CommandLine& line, const std::string& value, const std::string& option) {
  line.runs = parse_decimal<std::uint32_t>(value, option);
  if (line.runs < min_runs || line.runs > max_runs) {
    throw out_of_range(value, option, min_runs, max_runs);
  }
}

// A name outside the table is kept for the driver's message, which comes after
// the fish and the size check.
void read_workload(CommandLine& line, const std::string& value, const std::string&) {
  const std::optional<WorkloadKind> kind = choice_named(workload_table, value);
  if (kind) {
    line.config.workload = *kind;
    line.unknown_workload.reset();
  } else {
    line.unknown_workload = value;
  }
}

// The parser admits only the table's names, so the first row's value is never taken.
template <auto field, const auto& table>
void read_choice(CommandLine& line, const std::string& value, const std::string&) {
  member(line, field) = choice_named(table, value).value_or(table.front().value);
}

// An option whose values are the names of a table; the parser refuses others.
struct Choice {
  ValueReader read;
  std::vector<std::string> names;
};

template <auto field, const auto& table> Choice choice_of() {
  return {read_choice<field, table>, choice_names(table)};
}

// What an option sets: a flag, a text kept as it was given, or a value a reader converts.
using OptionTarget = std::variant<bool CommandLine::*, bool RunConfig::*,
                                  std::optional<std::string> CommandLine::*, ValueReader, Choice>;

struct OptionEntry {
  std::string_view names; ///< as the parser takes them, the long name last
  std::string_view hint;  ///< the value's name in the usage; empty for a flag
  std::string help;
  OptionTarget target;
};

// Every option, in the order the usage lists them; the help texts name the
// limits and tables they come from. Made on first use, inside the entry's
// guard: a failure to make the texts is the parse's, not the process start's.
const std::vector<OptionEntry>& option_table() {
  static const std::vector<OptionEntry> table = {
      {"-?,-h,--help", "", "Display usage information.", &CommandLine::help},
      {"-n,--numthreads", "numthreads", "Number of threads to use",
       read_number<&RunConfig::thread_count>},
      {"-d,--duration", "duration",
       fmt::format("Bench duration (s) between {}-{}s", min_duration, max_duration),
       read_number<&RunConfig::duration>},
      {"-s,--size", "size", fmt::format("Grid size, one of [{}]", grid_sizes_text()),
       read_number<&RunConfig::grid_size>},
      {"--workload", "workload",
       fmt::format(
           "Workload to use (results with different workloads aren't comparable), one of [{}]",
           workload_names_text()),
       read_workload},
      {"--threading", "threading", "Threading manager to use",
       choice_of<&RunConfig::threading, threading_table>()},
      {"--large-pages", "", "Use large pages allocator", &RunConfig::large_pages},
      {"--bypass-timer-check", "", "Run the bench even if the timer is not HWBOT compliant",
       &RunConfig::bypass_timer_check},
      {"--topo-debug", "", "Print detected topology for debug", &CommandLine::topology},
      {"--timer-debug", "", "Printed detected timers", &CommandLine::timers},
      {"--runs", "runs",
       fmt::format("Complete runs to make, {}-{}, then a summary of their scores", min_runs,
                   max_runs),
       read_runs},
      {"--export-json", "path", "Write the result record (JSON) of the invocation to path",
       &CommandLine::export_json},
      {"--no-prompt", "", "Exit without waiting for Enter", &CommandLine::no_prompt},
      {"--stress", "minutes",
       fmt::format(
           "Run a stability test for minutes (0-{}, 0 runs until Ctrl-C) instead of the bench",
           max_stress_minutes),
       read_in_range<&CommandLine::stress_minutes, 0, max_stress_minutes>},
      {"--stress-load", "load",
       "Stability test load: " + choices_text(stress_load_table, stress_load_notes),
       choice_of<&CommandLine::stress_load, stress_load_table>()},
      {"--stress-dwell", "seconds",
       fmt::format("Seconds on each core of the cycle load, {}-{}", min_stress_dwell,
                   max_stress_dwell),
       read_in_range<&CommandLine::stress_dwell, min_stress_dwell, max_stress_dwell>},
      {"--stop-on-error", "", "End the stability test at its first error",
       &CommandLine::stop_on_error},
      {"--roofline", "", "Measure the memory bandwidth first and show each score against it",
       &CommandLine::roofline},
      {"--scaling", "",
       "Run at 1, 2, 4, ... threads up to the automatic count, then a scaling table",
       &CommandLine::scaling},
      {"--version", "", "Display version information.", &CommandLine::version},
      {"--velto", "", "", &CommandLine::fish},
  };
  return table;
}

enum class Relation : std::uint8_t { needs, excludes };

// Which options go only with, or never with, which others.
constexpr struct {
  std::string_view option;
  Relation relation;
  std::string_view other;
} option_relations[] = {
    {"--stress", Relation::excludes, "--runs"},
    {"--stress", Relation::excludes, "--duration"},
    {"--stress-load", Relation::needs, "--stress"},
    {"--stress-dwell", Relation::needs, "--stress"},
    {"--stop-on-error", Relation::needs, "--stress"},
    {"--roofline", Relation::excludes, "--stress"},
    {"--scaling", Relation::excludes, "--stress"},
    {"--scaling", Relation::excludes, "--numthreads"},
};

template <typename... F> struct Overloaded : F... { using F::operator()...; };
// Spelled out for the compilers that do not deduce an aggregate's arguments.
template <typename... F> Overloaded(F...) -> Overloaded<F...>;

// "--numthreads" of "-n,--numthreads".
std::string long_name(std::string_view names) {
  return std::string(names.substr(names.rfind(',') + 1));
}

// Declares `entry` to the parser, bound to `line`.
CLI::Option* declare_option(CLI::App& app, CommandLine& line, const OptionEntry& entry) {
  const std::string names(entry.names);
  const std::string hint(entry.hint);
  const auto with_reader = [&](ValueReader read) {
    return app
        .add_option_function<std::string>(
            names,
            [&line, read, option = long_name(entry.names)](const std::string& value) {
              read(line, value, option);
            },
            entry.help)
        ->type_name(hint);
  };
  return std::visit(
      Overloaded{
          with_reader,
          [&](const Choice& choice) {
            return with_reader(choice.read)->check(CLI::IsMember(choice.names));
          },
          [&](std::optional<std::string> CommandLine::*field) {
            return app.add_option(names, line.*field, entry.help)->type_name(hint);
          },
          [&](auto flag) { return app.add_flag(names, member(line, flag), entry.help); },
      },
      entry.target);
}

void relate_options(CLI::App& app) {
  for (const auto& [option, relation, other] : option_relations) {
    CLI::Option* const first = app.get_option(std::string(option));
    CLI::Option* const second = app.get_option(std::string(other));
    if (relation == Relation::needs) {
      first->needs(second);
    } else {
      first->excludes(second);
    }
  }
}

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
  const std::string name = arguments.empty() ? std::string() : executable_name(arguments[0]);
  CLI::App app("", name);
  app.set_help_flag(); // the help is an ordinary flag, honoured after the checks
  app.formatter(std::make_shared<UsageFormatter>());
  for (const OptionEntry& entry : option_table()) {
    // A repeated option takes its last value, as a flag does.
    declare_option(app, line, entry)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
  relate_options(app);

  line.usage = app.help();

  // The parser reads an argument vector whose first entry is the program.
  std::vector<const char*> argv = {name.c_str()};
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    argv.push_back(arguments[i].c_str());
  }
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
    line.size_given = app.count("--size") > 0;
    line.workload_given = app.count("--workload") > 0;
    line.threading_given = app.count("--threading") > 0;
  } catch (const CLI::ParseError& e) {
    line.error = e.what();
    if (line.error.empty()) {
      line.error = e.get_name();
    }
  }
  return line;
}

} // namespace velto
