#include "support.hpp"

using namespace tektest;
using tekrec::Builder;

namespace {

class SpineTest : public TempDirTest {};

TEST_F(SpineTest, MinimalConversion) {
  Builder b;
  b.hdr().end();
  Bytes ctx = convert(b);
  EXPECT_BYTES(ctx, Ctx().header().predefined().bytes());
}

}  // namespace
