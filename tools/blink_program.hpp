// The second example program shipped under examples/blink/, built record by record.
#pragma once

#include "recbuild/recbuild.hpp"

namespace tekrec {

// blink.abs: an SH7032 program of two modules, main (main.c, led.h) and led (led.c, led.h),
// that blinks two LEDs: functions with parameters and locals, a structure and an enumeration,
// globals in RAM, a constant table in ROM, and the line numbers of every function.
Builder blink_program();

}  // namespace tekrec
