// How an invocation that measures ended.
#include "app/invocation.hpp"

namespace velto {

bool waits_for_enter(SeriesEnd end) {
  return end != SeriesEnd::refused && end != SeriesEnd::interrupted &&
         end != SeriesEnd::ended_by_user;
}

int exit_status(SeriesEnd end) {
  return end == SeriesEnd::valid || end == SeriesEnd::ended_by_user ? 0 : 1;
}

} // namespace velto
