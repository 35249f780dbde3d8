// The programs and libraries that some tests need and a fresh machine may lack, as configure
// found them (cmake/OptionalTestTools.cmake). A test that needs a missing one is skipped, with
// a reason that starts with kMissingToolMarker and names the command that installs it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace tektest {

inline constexpr std::string_view kMissingToolMarker = "optional test tool missing:";

struct OptionalTool {
  std::string_view name;     // as a test names it (the program's name for a program)
  std::string_view found;    // where configure found it; empty when missing
  std::string_view install;  // the command that installs it
};

#define TEKTEST_OPTIONAL_TOOL(name, ID) \
  { name, TEKTEST_##ID, TEKTEST_##ID##_INSTALL }

inline constexpr OptionalTool kOptionalTools[] = {
    TEKTEST_OPTIONAL_TOOL("gdb-multiarch", GDB_MULTIARCH),
    TEKTEST_OPTIONAL_TOOL("llvm-dwarfdump", LLVM_DWARFDUMP),
    TEKTEST_OPTIONAL_TOOL("llvm-objcopy", LLVM_OBJCOPY),
    TEKTEST_OPTIONAL_TOOL("readelf", READELF),
    TEKTEST_OPTIONAL_TOOL("objcopy", OBJCOPY),
    TEKTEST_OPTIONAL_TOOL("groff", GROFF),
    TEKTEST_OPTIONAL_TOOL("man", MAN),
    TEKTEST_OPTIONAL_TOOL("nlohmann-json", NLOHMANN_JSON),
#ifdef TEKTEST_LIBDW
    TEKTEST_OPTIONAL_TOOL("libdw", LIBDW),
#endif
};

#undef TEKTEST_OPTIONAL_TOOL

inline const OptionalTool* optional_tool(std::string_view name) {
  for (const OptionalTool& tool : kOptionalTools)
    if (tool.name == name) return &tool;
  return nullptr;
}

// True when configure found the tool.
inline bool tool_found(std::string_view name) {
  const OptionalTool* tool = optional_tool(name);
  return tool && !tool->found.empty();
}

// Why a test needing the tool is skipped: "optional test tool missing: NAME (INSTALL)".
inline std::string missing_tool_reason(const OptionalTool& tool) {
  return std::string(kMissingToolMarker) + " " + std::string(tool.name) + " (" +
         std::string(tool.install) + ")";
}

}  // namespace tektest

// Skips the test when configure did not find the tool; fails it when no tool has that name.
#define TEKTEST_REQUIRE_TOOL(name)                                                   \
  do {                                                                               \
    const ::tektest::OptionalTool* tektest_tool_ = ::tektest::optional_tool(name);   \
    if (!tektest_tool_) GTEST_FAIL() << "no optional test tool is named " << (name); \
    if (tektest_tool_->found.empty())                                                \
      GTEST_SKIP() << ::tektest::missing_tool_reason(*tektest_tool_);                \
  } while (0)
