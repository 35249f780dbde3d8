// Files the system refuses to open, create or write: the result of the opening carries the
// errno, whatever runs after the failure, and the fatal error made from it names the file and
// the system's reason as the run reports them.
#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <string>

#include "core/errors.hpp"
#include "core/output.hpp"
#include "core/record_reader.hpp"
#include "support.hpp"

using namespace tektest;

namespace {

class FileResultsTest : public TempDirTest {};

TEST_F(FileResultsTest, FailureCarriesTheSystemReason) {
  ASSERT_EQ(::mkdir("dir", 0755), 0);
  tek::OutFile out;
  tek::RecordReader rd;
  struct Case {
    const char* name;
    std::function<tek::SysResult()> open;
    tek::ErrorCode code;
    std::string path;
    int sys_errno;
    std::string message;  // the run's line for the fatal error
  };
  const Case cases[] = {
      {"input that does not exist", [&] { return rd.open("missing.abs"); }, tek::ERR_OPEN,
       "missing.abs", ENOENT, "cannot open 'missing.abs': No such file or directory"},
      {"input that is a directory", [&] { return rd.open("dir"); }, tek::ERR_OPEN, "dir", EISDIR,
       "cannot open 'dir': Is a directory"},
      {"output in a missing directory", [&] { return tek::out_open(out, "no/x.ctx", false); },
       tek::ERR_CREATE, "no/x.ctx", ENOENT, "cannot create 'no/x.ctx': No such file or directory"},
      {"read-back stream where a directory stands", [&] { return tek::out_open(out, "dir", true); },
       tek::ERR_CREATE, "dir", EEXIST, "cannot create 'dir': File exists"},
      {"unnamed stream beside a file in a missing directory",
       [&] { return tek::out_open_unnamed(out, "no/x.ctx"); }, tek::ERR_CREATE, "no/x.ctx", ENOENT,
       "cannot create 'no/x.ctx': No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const tek::SysResult r = c.open();
    errno = 0;  // what runs after the failure leaves its reason alone
    ASSERT_FALSE(r);
    EXPECT_EQ(r.sys_errno(), c.sys_errno);
    EXPECT_EQ(r.text(), std::strerror(c.sys_errno));
    EXPECT_FALSE(out.is_open());
    EXPECT_FALSE(rd.is_open());
    try {
      tek::fatal_file_error(c.code, c.path, r);
      ADD_FAILURE() << "no fatal error";
    } catch (const tek::Fatal& f) {
      EXPECT_EQ(tek::describe_fatal(f), c.message);
    }
  }
  // Success carries no reason.
  const tek::SysResult made = tek::out_open(out, "made.ctx", false);
  EXPECT_TRUE(made);
  EXPECT_EQ(made.sys_errno(), 0);
  EXPECT_EQ(made.text(), "");
  tek::out_close(out);
}

// A write the device refuses ends the run with the reason of the failed write.
TEST_F(FileResultsTest, WriteFailureNamesTheReason) {
  struct stat st;
  if (::stat("/dev/full", &st) != 0) GTEST_SKIP() << "no /dev/full";
  tek::OutFile out;
  ASSERT_TRUE(tek::out_open(out, "/dev/full", false));
  const uint8_t byte = 0;
  tek::out_write(out, &byte, 1);
  try {
    tek::out_close(out);
    ADD_FAILURE() << "no write error";
  } catch (const tek::Fatal& f) {
    EXPECT_EQ(tek::describe_fatal(f), "cannot write '/dev/full': No space left on device");
  }
}

}  // namespace
