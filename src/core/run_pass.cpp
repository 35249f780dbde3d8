#include "core/debuginfo/typeids.hpp"
#include "core/converter.hpp"
#include "core/fatal.hpp"
#include "core/run.hpp"
#include "core/reader/dispatcher.hpp"

namespace tek {

int run_pass(Converter& cv, const std::string& input) {
  clear_unit_tables(cv.units);
  if (!open_input(cv, input.c_str())) fatal_error(cv, ERR_OPEN);
  emit_predefined_types(cv);
  init_companion(cv);
  read_records(cv);  // a pass that ends early is finished like one that reached END
  if (cv.syms.sym.pending == 1) flush_symbol(cv);
  free_companion(cv);
  close_input(cv);
  clear_unit_tables(cv.units);
  return 0;
}

}  // namespace tek
