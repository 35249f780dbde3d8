// Output names that stand for something other than a file of their own. A name given with -o
// (or to the library) that leads to a device or a stream is written to, never replaced; one
// that is a link to a regular file replaces the file it leads to, and the link stays. A name
// the tool makes up from the input replaces whatever is there, following nothing.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "example_program.hpp"
#include "support.hpp"
#include "tekconv/tekconv.hpp"

using namespace tektest;
namespace fs = std::filesystem;

namespace {

class OutputNames : public TempDirTest {};

bool is_link_to(const std::string& name, const std::string& target) {
  struct stat st;
  return ::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
         fs::read_symlink(name).string() == target;
}

TEST_F(OutputNames, NamedDevicesAndStreamsAreWrittenTo) {
  tekrec::example_program().write("prog.abs");
  ASSERT_EQ(run_binary({"-q", "prog.abs"}).status, 0);
  ASSERT_EQ(run_binary({"-q", "-O", "elf", "prog.abs"}).status, 0);
  const std::string ctx = read_file("prog.ctx"), elf = read_file("prog.elf");
  fs::create_symlink("/dev/null", "null.out");
  fs::create_symlink("/dev/stdout", "stdout.out");
  struct Case {
    std::vector<std::string> args;
    std::string link, target, out;
  };
  const std::vector<Case> cases = {
      {{"-q", "-o", "null.out", "prog.abs"}, "null.out", "/dev/null", ""},
      {{"-q", "-O", "elf", "-o", "null.out", "prog.abs"}, "null.out", "/dev/null", ""},
      {{"-q", "-o", "stdout.out", "prog.abs"}, "stdout.out", "/dev/stdout", ctx},
      {{"-q", "-O", "elf", "-o", "stdout.out", "prog.abs"}, "stdout.out", "/dev/stdout", elf},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const RunResult r = run_binary_stderr(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == c.out) << r.out.size() << " bytes on standard output";
    EXPECT_TRUE(is_link_to(c.link, c.target));
  }
  // Nothing is left beside them.
  EXPECT_EQ(dir_entries(), (std::vector<std::string>{"null.out", "prog.abs", "prog.ctx", "prog.elf",
                                                     "stdout.out"}));
}

TEST_F(OutputNames, NamedLinkToAFileReplacesTheFileAndStays) {
  tekrec::example_program().write("prog.abs");
  ASSERT_EQ(run_binary({"-q", "prog.abs"}).status, 0);
  const std::string ctx = read_file("prog.ctx");
  ASSERT_EQ(::mkdir("keep", 0755), 0);
  write_file("keep/real.ctx", "earlier");
  fs::create_symlink("keep/real.ctx", "link.ctx");
  EXPECT_EQ(run_binary({"-q", "-o", "link.ctx", "prog.abs"}).status, 0);
  EXPECT_TRUE(is_link_to("link.ctx", "keep/real.ctx"));
  EXPECT_TRUE(read_file("keep/real.ctx") == ctx);
  EXPECT_EQ(dir_entries(), (std::vector<std::string>{"keep", "link.ctx", "prog.abs", "prog.ctx"}));

  // The library does the same with the path it is given.
  write_file("keep/real.ctx", "earlier");
  tekconv::Options o;
  o.console = nullptr;
  o.companions = tekconv::companions_in(".");
  EXPECT_EQ(tekconv::convert_file("prog.abs", "link.ctx", o), 0);
  EXPECT_TRUE(is_link_to("link.ctx", "keep/real.ctx"));
  EXPECT_TRUE(read_file("keep/real.ctx") == ctx);
}

// The name made up from the input never leads anywhere: a link there to a device is replaced.
TEST_F(OutputNames, MadeUpNameReplacesALinkToADevice) {
  tekrec::example_program().write("prog.abs");
  fs::create_symlink("/dev/null", "prog.ctx");
  EXPECT_EQ(run_binary({"-q", "prog.abs"}).status, 0);
  struct stat st;
  ASSERT_EQ(::lstat("prog.ctx", &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

}  // namespace
