// A fixed set of choices and their names in one table: what the parser
// accepts, what the help and the error messages list, and what the code
// switches on all come from the same rows.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

template <typename Choice> struct NamedChoice {
  Choice value;
  std::string_view name;
};

template <typename Choice, std::size_t N> using NameTable = std::array<NamedChoice<Choice>, N>;

/// The choice of exactly this name (case-sensitive), or nothing.
template <typename Choice, std::size_t N>
constexpr std::optional<Choice> choice_named(const NameTable<Choice, N>& table,
                                             std::string_view name) {
  for (const auto& row : table) {
    if (row.name == name) {
      return row.value;
    }
  }
  return std::nullopt;
}

/// The name of `value`; empty for a value the table lacks.
template <typename Choice, std::size_t N>
constexpr std::string_view name_of_choice(const NameTable<Choice, N>& table, Choice value) {
  for (const auto& row : table) {
    if (row.value == value) {
      return row.name;
    }
  }
  return {};
}

/// Every name, in table order.
template <typename Choice, std::size_t N>
std::vector<std::string> choice_names(const NameTable<Choice, N>& table) {
  std::vector<std::string> names;
  for (const auto& row : table) {
    names.emplace_back(row.name);
  }
  return names;
}

/// Every name in table order, joined by `separator` ("standing_wave, soft_gaussian").
template <typename Choice, std::size_t N>
std::string join_choice_names(const NameTable<Choice, N>& table,
                              std::string_view separator = ", ") {
  std::string text;
  for (const auto& row : table) {
    if (!text.empty()) {
      text += separator;
    }
    text += row.name;
  }
  return text;
}

} // namespace velto
