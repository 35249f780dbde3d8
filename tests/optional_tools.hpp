// The programs and libraries that some tests need and a fresh machine may lack, as configure
// found them (cmake/OptionalTestTools.cmake). A test that needs a missing one is skipped, with
// a reason line for each missing one that starts with kMissingToolMarker and names the command
// that installs it.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
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
    TEKTEST_OPTIONAL_TOOL("llvm-readelf", LLVM_READELF),
    TEKTEST_OPTIONAL_TOOL("llvm-symbolizer", LLVM_SYMBOLIZER),
    TEKTEST_OPTIONAL_TOOL("readelf", READELF),
    TEKTEST_OPTIONAL_TOOL("objcopy", OBJCOPY),
    TEKTEST_OPTIONAL_TOOL("groff", GROFF),
    TEKTEST_OPTIONAL_TOOL("man", MAN),
    TEKTEST_OPTIONAL_TOOL("jq", JQ),
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

struct ToolCheck {
  std::string missing;  // a line "optional test tool missing: NAME (INSTALL)" for each missing one
  std::string unknown;  // a name that no optional tool has
};

inline ToolCheck check_tools(std::initializer_list<std::string_view> names) {
  ToolCheck check;
  for (std::string_view name : names) {
    const OptionalTool* tool = optional_tool(name);
    if (!tool) {
      check.unknown = name;
      break;
    }
    if (tool->found.empty()) {
      if (!check.missing.empty()) check.missing += '\n';
      check.missing += std::string(kMissingToolMarker) + " " + std::string(name) + " (" +
                       std::string(tool->install) + ")";
    }
  }
  return check;
}

}  // namespace tektest

// Skips the test when configure did not find one of the tools, naming each missing one; fails it
// when no tool has one of the names.
#define TEKTEST_REQUIRE_TOOL(...)                                                      \
  do {                                                                                 \
    const ::tektest::ToolCheck tektest_check_ = ::tektest::check_tools({__VA_ARGS__}); \
    if (!tektest_check_.unknown.empty())                                               \
      GTEST_FAIL() << "no optional test tool is named " << tektest_check_.unknown;     \
    if (!tektest_check_.missing.empty()) GTEST_SKIP() << tektest_check_.missing;       \
  } while (0)
