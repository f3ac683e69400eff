// Must not build: platform code that reaches up into the bench layer. The
// layering test builds this against the platform layer alone and expects the
// include to be missing.
#include "platform/timers.hpp"

#include "bench/run_records.hpp"

int main() {
  return velto::RunResult{}.expected_threads == 0 ? 0 : 1;
}
