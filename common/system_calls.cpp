#include "common/system_calls.h"

namespace talvex {

SystemCalls& system_calls() {
  static SystemCalls table = default_system_calls();
  return table;
}

}  // namespace talvex
