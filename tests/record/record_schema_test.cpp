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
  };
  for (const Case& c : cases) {
    EXPECT_EQ(schema.at(json::json_pointer(c.pointer)).get<std::vector<std::string>>(), c.names)
        << c.pointer;
  }
  EXPECT_EQ(schema.at("/properties/schema/const"_json_pointer), record_schema_name);
  EXPECT_EQ(schema.at("/properties/schema_version/const"_json_pointer), record_schema_version);
  // This build's own facts are among those the schema admits.
  for (const auto& [pointer, value] :
       {std::pair{"/properties/velto/properties/os/enum", build_os()},
        std::pair{"/properties/velto/properties/arch/enum", build_arch()},
        std::pair{"/properties/velto/properties/compiler/properties/id/enum", compiler_id()}}) {
    const auto allowed = schema.at(json::json_pointer(pointer)).get<std::vector<std::string>>();
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), value), allowed.end()) << pointer;
  }
}

} // namespace
} // namespace velto
