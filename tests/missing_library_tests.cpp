// Stands in for the test files that cannot compile without a library configure did not find:
// each is one test, skipped with the reason that names the library and its package.
#include "optional_tools.hpp"

#if !TEKTEST_HAVE_NLOHMANN_JSON
// ctxdump_json_test.cpp parses ctxdump --json output back with nlohmann-json.
TEST(CtxdumpJsonTest, NeedsNlohmannJson) {
  TEKTEST_REQUIRE_TOOL("nlohmann-json");
}
#endif
