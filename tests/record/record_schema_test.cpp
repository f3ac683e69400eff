// The record's schema and the code that writes records name the same things:
// a choice added to a table and not to the schema (or the other way round)
// fails here rather than in a reader's validation.
#include "platform/system_info.hpp"
#include "record/result_record.hpp"
#include "stress/stress_run.hpp"
#include "support/record_schema.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace velto {
namespace {

using json = nlohmann::json;

TEST(RecordSchema, EnumerationsNameAndVersionAreTheCodes) {
  const json schema = json::parse(testing::record_schema_text);
  struct Case {
    const char* pointer;
    std::vector<std::string> names; ///< in the code's table order
  };
  const Case cases[] = {
      {"/properties/config/properties/workload/enum", choice_names(workload_table)},
      {"/properties/config/properties/threading/enum", choice_names(threading_table)},
      {"/properties/machine/properties/vendor/enum", choice_names(cpu_vendor_table)},
      {"/$defs/timer/properties/source/enum", choice_names(timer_source_table)},
      {"/$defs/run/properties/reasons/items/enum", choice_names(run_issue_table)},
      {"/$defs/stress/properties/load/enum", choice_names(stress_load_table)},
      {"/$defs/stress/properties/end/enum", choice_names(stress_end_table)},
      {"/properties/kind/enum", choice_names(record_kind_table)},
      {"/$defs/stress_error/properties/kind/enum", choice_names(stress_error_kind_table)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(schema.at(json::json_pointer(c.pointer)).get<std::vector<std::string>>(), c.names)
        << c.pointer;
  }
  EXPECT_EQ(schema.at("/properties/schema/const"_json_pointer), record_schema_name);
  EXPECT_EQ(schema.at("/properties/schema_version/const"_json_pointer), record_schema_version);
  // The schema's conditions name a kind too: what a benchmark record requires,
  // what a hash error holds.
  EXPECT_EQ(schema.at("/if/properties/kind/const"_json_pointer),
            name_of_choice(record_kind_table, RecordKind::benchmark));
  EXPECT_EQ(schema.at("/$defs/stress_error/if/properties/kind/const"_json_pointer),
            name_of_choice(stress_error_kind_table, StressErrorKind::hash));
  // This build's own facts are among those the schema admits.
  for (const auto& [pointer, value] :
       {std::pair{"/properties/velto/properties/os/enum", build_os()},
        std::pair{"/properties/velto/properties/arch/enum", build_arch()},
        std::pair{"/properties/velto/properties/compiler/properties/id/enum", compiler_id()}}) {
    const auto allowed = schema.at(json::json_pointer(pointer)).get<std::vector<std::string>>();
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), value), allowed.end()) << pointer;
  }
}

// What a stability test keeps is what the schema admits: no more errors, no
// longer series. Should the two differ, a long test writes a record that does
// not validate, or the schema promises a bound the code does not keep.
TEST(RecordSchema, StressLimitsAreTheCodes) {
  const json schema = json::parse(testing::record_schema_text);
  EXPECT_EQ(schema.at("/$defs/stress/properties/errors/maxItems"_json_pointer), max_kept_errors);
  EXPECT_EQ(schema.at("/$defs/stress_processor/properties/series/maxItems"_json_pointer),
            max_series_points);
}

} // namespace
} // namespace velto
