// DWARF 4 constants used by the debug information writer.
#pragma once

#include <cstdint>

namespace dwarf {

// Tags.
enum Tag : uint16_t {
  DW_TAG_array_type = 0x01,
  DW_TAG_class_type = 0x02,
  DW_TAG_enumeration_type = 0x04,
  DW_TAG_formal_parameter = 0x05,
  DW_TAG_label = 0x0a,
  DW_TAG_member = 0x0d,
  DW_TAG_pointer_type = 0x0f,
  DW_TAG_compile_unit = 0x11,
  DW_TAG_structure_type = 0x13,
  DW_TAG_subroutine_type = 0x15,
  DW_TAG_typedef = 0x16,
  DW_TAG_union_type = 0x17,
  DW_TAG_unspecified_parameters = 0x18,
  DW_TAG_subrange_type = 0x21,
  DW_TAG_base_type = 0x24,
  DW_TAG_enumerator = 0x28,
  DW_TAG_subprogram = 0x2e,
  DW_TAG_variable = 0x34,
};

// Attributes.
enum Attr : uint16_t {
  DW_AT_location = 0x02,
  DW_AT_name = 0x03,
  DW_AT_byte_size = 0x0b,
  DW_AT_stmt_list = 0x10,
  DW_AT_low_pc = 0x11,
  DW_AT_high_pc = 0x12,
  DW_AT_language = 0x13,
  DW_AT_comp_dir = 0x1b,
  DW_AT_producer = 0x25,
  DW_AT_prototyped = 0x27,
  DW_AT_count = 0x37,
  DW_AT_upper_bound = 0x2f,
  DW_AT_const_value = 0x1c,
  DW_AT_data_member_location = 0x38,
  DW_AT_declaration = 0x3c,
  DW_AT_encoding = 0x3e,
  DW_AT_external = 0x3f,
  DW_AT_frame_base = 0x40,
  DW_AT_type = 0x49,
  DW_AT_ranges = 0x55,
  DW_AT_bit_size = 0x0d,
  DW_AT_data_bit_offset = 0x6b,
};

// Forms.
enum Form : uint8_t {
  DW_FORM_addr = 0x01,
  DW_FORM_data2 = 0x05,
  DW_FORM_data4 = 0x06,
  DW_FORM_data1 = 0x0b,
  DW_FORM_sdata = 0x0d,
  DW_FORM_strp = 0x0e,
  DW_FORM_udata = 0x0f,
  DW_FORM_ref_addr = 0x10,
  DW_FORM_sec_offset = 0x17,
  DW_FORM_exprloc = 0x18,
  DW_FORM_flag_present = 0x19,
};

// Base type encodings.
enum Encoding : uint8_t {
  DW_ATE_address = 0x01,
  DW_ATE_float = 0x04,
  DW_ATE_signed = 0x05,
  DW_ATE_signed_char = 0x06,
  DW_ATE_unsigned = 0x07,
  DW_ATE_unsigned_char = 0x08,
};

constexpr uint16_t DW_LANG_C89 = 0x0001;

// Location operations.
enum Op : uint8_t {
  DW_OP_addr = 0x03,
  DW_OP_reg0 = 0x50,
  DW_OP_breg0 = 0x70,
  DW_OP_regx = 0x90,
  DW_OP_fbreg = 0x91,
  DW_OP_bregx = 0x92,
  DW_OP_piece = 0x93,
  DW_OP_bit_piece = 0x9d,
};

// Line number program.
enum LineOp : uint8_t {
  DW_LNS_copy = 0x01,
  DW_LNS_advance_pc = 0x02,
  DW_LNS_advance_line = 0x03,
  DW_LNS_set_file = 0x04,
  DW_LNE_end_sequence = 0x01,
  DW_LNE_set_address = 0x02,
};

}  // namespace dwarf
