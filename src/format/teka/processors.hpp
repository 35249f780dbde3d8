// Processor names and register names.
#pragma once

namespace tek {

constexpr int PROCESSOR_COUNT = 46;
constexpr int PROC_SH7032 = 9;
constexpr int PROC_H8S2600 = 20;
constexpr int PROC_ARM = 43;
constexpr int PROC_RI10 = 44;
constexpr int PROC_RI20 = 45;

const char* processor_name(int code);
// Code of the first table entry that occurs in the name as a substring, or -1.
int processor_code_in(const char* name);
// Position of the register in the processor's list (ASCII case ignored), or -1.
int register_number(int processor, const char* name);
// Number of registers in the processor's list.
int register_count(int processor);
// Position in the extra table consulted in RI mode, or -1.
int ri_extra_register(const char* name);

}  // namespace tek
