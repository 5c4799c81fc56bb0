// A small DWARF 4 producer: the byte encodings (ULEB/SLEB), an abbreviation
// table shared by all units, a DIE tree whose references are resolved when
// the unit is laid out, string pooling for .debug_str, and the line program
// of one unit. It knows nothing of UBROF; ElfExport.cpp fills it.
#ifndef MIRL_ELF_DWARFWRITER_H
#define MIRL_ELF_DWARFWRITER_H

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace elfx {

// The DWARF constants this producer writes.
enum : uint16_t {
  DW_TAG_array_type = 0x01,
  DW_TAG_enumeration_type = 0x04,
  DW_TAG_formal_parameter = 0x05,
  DW_TAG_lexical_block = 0x0b,
  DW_TAG_member = 0x0d,
  DW_TAG_pointer_type = 0x0f,
  DW_TAG_reference_type = 0x10,
  DW_TAG_compile_unit = 0x11,
  DW_TAG_structure_type = 0x13,
  DW_TAG_subroutine_type = 0x15,
  DW_TAG_typedef = 0x16,
  DW_TAG_union_type = 0x17,
  DW_TAG_unspecified_parameters = 0x18,
  DW_TAG_subrange_type = 0x21,
  DW_TAG_base_type = 0x24,
  DW_TAG_const_type = 0x26,
  DW_TAG_enumerator = 0x28,
  DW_TAG_subprogram = 0x2e,
  DW_TAG_variable = 0x34,
  DW_TAG_volatile_type = 0x35,
  DW_TAG_class_type = 0x02,

  DW_AT_location = 0x02,
  DW_AT_name = 0x03,
  DW_AT_byte_size = 0x0b,
  DW_AT_stmt_list = 0x10,
  DW_AT_low_pc = 0x11,
  DW_AT_high_pc = 0x12,
  DW_AT_language = 0x13,
  DW_AT_comp_dir = 0x1b,
  DW_AT_const_value = 0x1c,
  DW_AT_producer = 0x25,
  DW_AT_prototyped = 0x27,
  DW_AT_count = 0x37,
  DW_AT_data_member_location = 0x38,
  DW_AT_encoding = 0x3e,
  DW_AT_external = 0x3f,
  DW_AT_type = 0x49,
  DW_AT_ranges = 0x55,
  DW_AT_data_bit_offset = 0x6b,
  DW_AT_bit_size = 0x0d,

  DW_FORM_addr = 0x01,
  DW_FORM_data1 = 0x0b,
  DW_FORM_data2 = 0x05,
  DW_FORM_data4 = 0x06,
  DW_FORM_sdata = 0x0d,
  DW_FORM_udata = 0x0f,
  DW_FORM_strp = 0x0e,
  DW_FORM_ref4 = 0x13,
  DW_FORM_sec_offset = 0x17,
  DW_FORM_exprloc = 0x18,
  DW_FORM_flag_present = 0x19,

  DW_ATE_boolean = 0x02,
  DW_ATE_float = 0x04,
  DW_ATE_signed = 0x05,
  DW_ATE_signed_char = 0x06,
  DW_ATE_unsigned = 0x07,
  DW_ATE_unsigned_char = 0x08,

  DW_LANG_C89 = 0x01,
  DW_LANG_C_plus_plus = 0x04,
  DW_LANG_Mips_Assembler = 0x8001,

  DW_OP_addr = 0x03,
};

// Little-endian bytes with the DWARF variable-length encodings.
class Bytes {
 public:
  std::vector<uint8_t> data;
  void U8(uint64_t v) { data.push_back(uint8_t(v)); }
  void U16(uint64_t v) { Fixed(v, 2); }
  void U32(uint64_t v) { Fixed(v, 4); }
  void Fixed(uint64_t v, unsigned n) {
    for (unsigned i = 0; i < n; ++i) data.push_back(uint8_t(v >> (8 * i)));
  }
  void Uleb(uint64_t v);
  void Sleb(int64_t v);
  void Str(const std::string& s) {
    data.insert(data.end(), s.begin(), s.end());
    data.push_back(0);
  }
  void Append(const std::vector<uint8_t>& b) { data.insert(data.end(), b.begin(), b.end()); }
  void Patch32(size_t at, uint32_t v) {
    for (unsigned i = 0; i < 4; ++i) data[at + i] = uint8_t(v >> (8 * i));
  }
  size_t Size() const { return data.size(); }
};

// .debug_str: each text once.
class StringPool {
 public:
  uint32_t Offset(const std::string& s);
  Bytes section;

 private:
  std::map<std::string, uint32_t> m_offsets;
};

struct Attr {
  uint16_t name = 0, form = 0;
  uint64_t value = 0;  // number, address, string offset, or the referred DIE's index
  std::vector<uint8_t> block;
};

struct Die {
  uint16_t tag = 0;
  std::vector<Attr> attrs;
  std::vector<size_t> children;
};

// One compile unit's DIE tree; index 0 is the unit DIE.
class Unit {
 public:
  Unit() { dies.push_back(Die{DW_TAG_compile_unit, {}, {}}); }
  size_t Add(size_t parent, uint16_t tag);
  Die& operator[](size_t i) { return dies[i]; }
  void Num(size_t die, uint16_t name, uint16_t form, uint64_t v) {
    dies[die].attrs.push_back({name, form, v, {}});
  }
  void Ref(size_t die, uint16_t name, size_t target) { Num(die, name, DW_FORM_ref4, target); }
  void Flag(size_t die, uint16_t name) { Num(die, name, DW_FORM_flag_present, 0); }
  void Text(size_t die, uint16_t name, const std::string& s, StringPool& pool) {
    Num(die, name, DW_FORM_strp, pool.Offset(s));
  }
  void Expr(size_t die, uint16_t name, std::vector<uint8_t> expr) {
    dies[die].attrs.push_back({name, DW_FORM_exprloc, 0, std::move(expr)});
  }
  std::vector<Die> dies;
};

// Abbreviations of all units, and their encoding into .debug_info.
class InfoWriter {
 public:
  // Appends the unit (header included) to info; abbreviations go to abbrev
  // when the unit is written.
  void Write(const Unit& unit);
  Bytes info;
  Bytes Abbreviations() const;

 private:
  using Key = std::tuple<uint16_t, bool, std::vector<std::pair<uint16_t, uint16_t>>>;
  uint32_t Code(const Die& die);
  std::map<Key, uint32_t> m_codes;
  std::vector<Key> m_order;
};

// One row of the line program: the code from address on is line of file
// (1-based into the unit's file table).
struct LineRow {
  uint32_t address = 0, file = 1, line = 1, column = 0;
};

// A sequence: rows in ascending addresses, ending at end (exclusive).
struct LineSequence {
  std::vector<LineRow> rows;
  uint32_t end = 0;
};

struct LineFile {
  std::string directory, name;
};

// Appends one unit's line program (DWARF 4 header, files with their
// directories, the sequences) to *pOut.
void WriteLineProgram(const std::vector<LineFile>& files,
                      const std::vector<LineSequence>& sequences, Bytes* pOut);

}  // namespace elfx

#endif
