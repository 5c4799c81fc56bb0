#include "ElfExport.h"

#include <elf.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "DwarfWriter.h"
#include "ElfFile.h"

namespace elfx {

namespace {

using mirl::api::kNoId;
using mirl::api::Program;

constexpr uint8_t kProgram = 1, kData = 2, kEeprom = 4;
// Raw images are written whole, holes filled: a span beyond this is refused.
constexpr uint64_t kMaxSpan = 64u << 20;
constexpr unsigned kMaxTypeDepth = 64;
constexpr size_t kNoDie = size_t(-1);

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// The GNU tools' address conventions: avr-gcc, avr-gdb and simavr place
// data memory at 0x800000 and eeprom at 0x810000; MSP430 has one address
// space; for the others we choose to place data at 16 MiB and eeprom at
// 32 MiB, clear of any code address.
const Target kTargets[] = {
    {"avr", EM_AVR, 0x800000, 0x810000},
    {"msp430", EM_MSP430, 0, 0x1000000},
    {"8051", 165 /* EM_8051 */, 0x1000000, 0x2000000},
    {"none", EM_NONE, 0x1000000, 0x2000000},
};

// A stored Windows path with / separators, split into folder and name.
LineFile SplitPath(const std::string& path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return {"", p};
  return {p.substr(0, slash == 0 ? 1 : slash), p.substr(slash + 1)};
}

uint16_t LanguageOf(const std::string& name) {
  std::string ext = Lower(name.substr(std::min(name.size(), name.rfind('.'))));
  if (ext == ".c" || ext == ".h") return DW_LANG_C89;
  if (ext == ".cpp" || ext == ".cc" || ext == ".cxx" || ext == ".hpp") return DW_LANG_C_plus_plus;
  return DW_LANG_Mips_Assembler;
}

std::vector<uint8_t> AddrExpr(uint32_t address) {
  return {DW_OP_addr, uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16),
          uint8_t(address >> 24)};
}

// [begin, end) address intervals, merged.
using Intervals = std::vector<std::pair<uint32_t, uint32_t>>;
Intervals Merge(Intervals v) {
  std::sort(v.begin(), v.end());
  Intervals out;
  for (const auto& i : v) {
    if (i.first >= i.second) continue;
    if (!out.empty() && i.first <= out.back().second)
      out.back().second = std::max(out.back().second, i.second);
    else
      out.push_back(i);
  }
  return out;
}

// What the exporter needs of every symbol, read once.
struct SymbolFacts {
  mirl::api::Symbol sym;
  bool placed = false;  // at one address of program, data or eeprom memory
  uint8_t memType = 0;
  uint32_t address = 0;
  mirl::api::Type type;
  bool typed = false;
  bool function = false, constant = false, variable = false;
};

class Exporter {
 public:
  Exporter(const Program& p, const Target& t) : m_p(p), m_t(t) {}
  bool Build(ElfImage* pImage, ElfReport* pReport, std::string* pError);

 private:
  uint32_t Place(uint8_t memType, uint32_t address) const {
    return memType == kData     ? m_t.dataBase + address
           : memType == kEeprom ? m_t.eepromBase + address
                                : address;
  }
  bool AddMemory(ElfImage* pImage, uint8_t memType, std::string* pError);
  bool AddSection(ElfImage* pImage, uint8_t memType, std::string name, uint64_t low, uint64_t high,
                  bool written, std::string* pError);
  int SectionAt(const ElfImage& image, uint8_t memType, uint32_t address) const;
  void AddSymbols(ElfImage* pImage);
  void BuildDwarf(ElfImage* pImage);
  size_t TypeDie(Unit& u, uint32_t typeId, unsigned depth);
  void AddScope(Unit& u, size_t parent, uint32_t scopeId, Intervals* pRanges, unsigned depth);
  void AddVariables(Unit& u, size_t parent, const mirl::api::Scope& scope, bool fileLevel,
                    uint32_t low, uint32_t high, const std::set<uint32_t>& parameters = {});
  std::set<uint32_t> ParametersOf(const mirl::api::Scope& scope, const mirl::api::Type& function);
  bool FunctionType(const SymbolFacts& f, mirl::api::Type* pType) const;
  bool LocationExpr(const mirl::api::Location& loc, uint32_t size, std::vector<uint8_t>* pExpr);
  std::vector<LineSequence> Lines(uint32_t module, std::vector<LineFile>* pFiles);

  const Program& m_p;
  Target m_t;
  std::vector<SymbolFacts> m_syms;
  std::vector<mirl::api::Scope> m_scopes;
  std::vector<bool> m_written;  // scopes already in a unit
  std::vector<mirl::api::SourceFile> m_files;
  std::vector<mirl::api::Statement> m_statements;
  // The module of each statement with code (or ~0), found once: every
  // module's line program filters the same list.
  std::vector<uint32_t> m_statementModules;
  std::multimap<uint8_t, int> m_sectionOf;  // memory type -> its sections' indexes
  std::map<uint32_t, size_t> m_typeDies;    // of the unit being built
  StringPool m_str;
  Bytes m_loc;  // .debug_loc
  ElfReport m_report;
};

bool Exporter::AddMemory(ElfImage* pImage, uint8_t memType, std::string* pError) {
  mirl::api::Image image = m_p.Memory(memType);
  uint64_t low = image.lowest, high = image.highest;  // inclusive
  bool written = image.lowest <= image.highest;
  // Data and eeprom sections also cover the variables placed there, so that
  // their symbols belong to a section even where no initial byte is stored.
  for (const SymbolFacts& s : m_syms) {
    if (!s.placed || s.memType != memType || memType == kProgram || s.constant) continue;
    uint64_t end = uint64_t(s.address) + std::max<uint32_t>(s.typed ? s.type.size : 1, 1) - 1;
    if (!written && low > high) low = s.address, high = end;
    low = std::min<uint64_t>(low, s.address);
    high = std::max<uint64_t>(high, end);
  }
  if (low > high) return true;
  static const char* const kNames[] = {"", ".text", ".data", "", ".eeprom"};
  std::string name = memType == kData && !written ? ".bss" : kNames[memType];
  if (memType != kProgram || m_t.machine != 165 || high <= 0xFFFF)
    return AddSection(pImage, memType, name, low, high, written, pError);
  // Banked 8051 code: the file's addresses carry the bank in bits 16 and
  // up over the address the CPU sees, as the debugger shows them; they stay
  // so here. Each bank is a section and segment of its own, whose physical
  // address is its place in flash (32 KiB per bank after the root, banked
  // code at 0x8000-0xFFFF), which is where the linker's HEX file puts it.
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> banks;  // bank -> [first, last]
  for (const auto& [first, last] : image.written)
    for (uint64_t a = first; a <= last; a = (a | 0xFFFF) + 1) {
      auto bank = banks.emplace(uint32_t(a >> 16), std::make_pair(uint32_t(a), 0u)).first;
      bank->second.second = uint32_t(std::min<uint64_t>(last, a | 0xFFFF));
    }
  for (const auto& [bank, range] : banks)
    if (!AddSection(pImage, memType, bank ? ".text.bank" + std::to_string(bank) : name, range.first,
                    range.second, true, pError))
      return false;
  return true;
}

bool Exporter::AddSection(ElfImage* pImage, uint8_t memType, std::string name, uint64_t low,
                          uint64_t high, bool written, std::string* pError) {
  if (high - low + 1 > kMaxSpan) {
    char span[64];
    std::snprintf(span, sizeof span, "0x%llX..0x%llX", static_cast<unsigned long long>(low),
                  static_cast<unsigned long long>(high));
    *pError = name.substr(1) + " memory spans " + span + ", too far apart for one section";
    return false;
  }
  Section s;
  s.name = name;
  s.address = s.load = Place(memType, uint32_t(low));
  if (memType == kProgram && m_t.machine == 165 && low > 0xFFFF && (low & 0xFFFF) >= 0x8000)
    s.load = uint32_t((low >> 16) * 0x8000 + (low & 0x7FFF));
  s.flags = SHF_ALLOC | (memType == kProgram ? SHF_EXECINSTR : SHF_WRITE);
  if (written) {
    // Holes read as the image's fill byte, as the memory reads them.
    s.bytes = m_p.Read(memType, uint32_t(low), uint32_t(high - low + 1));
  } else {
    s.type = SHT_NOBITS;
    s.size = uint32_t(high - low + 1);
  }
  m_sectionOf.emplace(memType, int(pImage->sections.size()));
  pImage->sections.push_back(std::move(s));
  return true;
}

// The section of a memory that holds the address, else its first; -1 for
// none.
int Exporter::SectionAt(const ElfImage& image, uint8_t memType, uint32_t address) const {
  auto [first, end] = m_sectionOf.equal_range(memType);
  for (auto i = first; i != end; ++i) {
    const Section& s = image.sections[size_t(i->second)];
    if (address >= s.address && address - s.address < std::max<size_t>(s.bytes.size(), s.size))
      return i->second;
  }
  return first == end ? -1 : first->second;
}

void Exporter::AddSymbols(ElfImage* pImage) {
  std::set<std::pair<std::string, uint32_t>> named;
  auto scopeKind = [&](uint32_t id) { return id < m_scopes.size() ? m_scopes[id].kind : 0u; };
  // A function's code runs to the end of the function scope of its name.
  std::map<std::pair<uint32_t, std::string>, uint32_t> functionEnd;
  for (const mirl::api::Scope& sc : m_scopes)
    if (sc.kind == mirl::api::kFunction && sc.low <= sc.high)
      functionEnd[{sc.parent, sc.name}] = sc.high;
  for (const SymbolFacts& f : m_syms) {
    if (!f.placed || f.sym.cls == 4) continue;  // unplaced, or another module's
    Symbol s;
    s.name = f.sym.name;
    s.value = Place(f.memType, f.address);
    s.global = scopeKind(f.sym.scope) != mirl::api::kFunction &&
               scopeKind(f.sym.scope) != mirl::api::kBlock && f.sym.cls != 3;
    s.section = f.constant ? -1 : SectionAt(*pImage, f.memType, s.value);
    if (f.function) {
      s.type = STT_FUNC;
      auto end = functionEnd.find({f.sym.scope, f.sym.name});
      if (end != functionEnd.end() && end->second > f.address) s.size = end->second - f.address;
    } else if (f.variable) {
      s.type = STT_OBJECT;
      s.size = f.type.size;
    }
    named.emplace(s.name, s.value);
    pImage->symbols.push_back(s);
  }
  // Code labels the symbol table does not hold already.
  for (const mirl::api::Label& l : m_p.Labels()) {
    int text = SectionAt(*pImage, kProgram, l.address);
    if (text < 0 || !named.emplace(l.name, l.address).second) continue;
    const Section& sec = pImage->sections[size_t(text)];
    if (l.address < sec.address || l.address - sec.address >= sec.bytes.size()) continue;
    pImage->symbols.push_back({l.name, l.address, 0, STT_NOTYPE, true, text});
  }
  m_report.symbols = uint32_t(pImage->symbols.size());
}

size_t Exporter::TypeDie(Unit& u, uint32_t typeId, unsigned depth) {
  auto known = m_typeDies.find(typeId);
  if (known != m_typeDies.end()) return known->second;
  mirl::api::Type t;
  if (depth > kMaxTypeDepth || !m_p.GetType(typeId, &t) || t.kind == 0) return kNoDie;
  const uint32_t* w = t.words;
  auto make = [&](uint16_t tag) {
    size_t d = u.Add(0, tag);
    m_typeDies[typeId] = d;
    return d;
  };
  auto refer = [&](size_t die, uint32_t target) {
    size_t to = TypeDie(u, target, depth + 1);
    if (to != kNoDie) u.Ref(die, DW_AT_type, to);
  };
  auto stripped = [&](const char* prefix) {
    std::string n = t.name;
    return StartsWith(n, prefix) ? n.substr(std::char_traits<char>::length(prefix)) : n;
  };
  bool fixedPointer = (t.kind >= 23 && t.kind <= 34) || (t.kind >= 37 && t.kind <= 40);
  size_t d = kNoDie;
  switch (t.kind) {
    case 1:                                           // predefined
      if (t.spec == 8 || t.spec == 0) return kNoDie;  // void, "..."
      if (t.spec == 5) {
        d = make(DW_TAG_pointer_type);
      } else {
        d = make(DW_TAG_base_type);
        uint8_t enc = t.spec == 3                  ? DW_ATE_float
                      : t.name == "bool"           ? DW_ATE_boolean
                      : t.spec == 1 && t.size == 1 ? DW_ATE_signed_char
                      : t.spec == 1                ? DW_ATE_signed
                      : t.size == 1                ? DW_ATE_unsigned_char
                                                   : DW_ATE_unsigned;
        u.Num(d, DW_AT_encoding, DW_FORM_data1, enc);
        u.Text(d, DW_AT_name, t.name, m_str);
      }
      u.Num(d, DW_AT_byte_size, DW_FORM_data1, std::max<uint32_t>(t.size, 1));
      break;
    case 15:
    case 53:
      d = make(t.kind == 15 ? DW_TAG_pointer_type : DW_TAG_reference_type);
      if (t.size) u.Num(d, DW_AT_byte_size, DW_FORM_data1, t.size);
      refer(d, w[0]);
      break;
    case 16:
    case 41: {
      d = make(DW_TAG_array_type);
      refer(d, w[0]);
      size_t range = u.Add(d, DW_TAG_subrange_type);
      u.Num(range, DW_AT_count, DW_FORM_udata, w[2]);
      break;
    }
    case 17:
    case 18:
    case 52: {
      d = make(w[1] == 2   ? DW_TAG_union_type
               : w[1] == 3 ? DW_TAG_class_type
                           : DW_TAG_structure_type);
      std::string name = stripped(w[1] == 2 ? "union " : w[1] == 3 ? "class " : "struct ");
      if (!name.empty()) u.Text(d, DW_AT_name, name, m_str);
      u.Num(d, DW_AT_byte_size, DW_FORM_udata, t.size);
      for (const mirl::api::Member& m : m_p.Members(typeId)) {
        size_t md = u.Add(d, DW_TAG_member);
        if (!m.name.empty()) u.Text(md, DW_AT_name, m.name, m_str);
        mirl::api::Type mt;
        if (m_p.GetType(m.type, &mt) && mt.kind == 19) {
          // A bit field: width and first bit from its type, held in an
          // unsigned integer of the bytes those bits reach.
          uint32_t width = mt.words[0], first = mt.words[1];
          size_t base = u.Add(0, DW_TAG_base_type);
          u.Text(base, DW_AT_name, "unsigned int", m_str);
          u.Num(base, DW_AT_encoding, DW_FORM_data1, DW_ATE_unsigned);
          u.Num(base, DW_AT_byte_size, DW_FORM_data1,
                std::max<uint32_t>((first + width + 7) / 8, 1));
          u.Ref(md, DW_AT_type, base);
          u.Num(md, DW_AT_bit_size, DW_FORM_udata, width);
          u.Num(md, DW_AT_data_bit_offset, DW_FORM_udata, uint64_t(m.offset) * 8 + first);
        } else {
          refer(md, m.type);
          u.Num(md, DW_AT_data_member_location, DW_FORM_udata, m.offset);
        }
      }
      break;
    }
    case 20:
    case 35: {
      d = make(DW_TAG_subroutine_type);
      refer(d, w[0]);
      u.Flag(d, DW_AT_prototyped);
      for (uint32_t param : m_p.Parameters(typeId)) {
        mirl::api::Type pt;
        bool ellipsis = m_p.GetType(param, &pt) && pt.kind == 1 && pt.name == "...";
        size_t pd = u.Add(d, ellipsis ? DW_TAG_unspecified_parameters : DW_TAG_formal_parameter);
        if (!ellipsis) refer(pd, param);
      }
      break;
    }
    case 21:
    case 36:
    case 42: {
      // Qualifiers: const and volatile wrap the base type; others (register,
      // memory attributes) leave it as it is.
      bool isConst = t.kind == 42 ? (w[2] & 1) : (w[0] & 2);
      bool isVolatile = t.kind == 42 ? (w[2] & 2) : (w[0] & 4);
      if (!isConst && !isVolatile) {
        d = TypeDie(u, w[1], depth + 1);
        m_typeDies[typeId] = d;
        return d;
      }
      d = make(isVolatile ? DW_TAG_volatile_type : DW_TAG_const_type);
      size_t inner = d;
      if (isConst && isVolatile) {
        inner = u.Add(0, DW_TAG_const_type);
        u.Ref(d, DW_AT_type, inner);
      }
      refer(inner, w[1]);
      break;
    }
    case 43:
      d = TypeDie(u, w[1], depth + 1);
      m_typeDies[typeId] = d;
      return d;
    case 44:
    case 51: {
      d = make(DW_TAG_enumeration_type);
      std::string name = stripped("enum ");
      if (!name.empty()) u.Text(d, DW_AT_name, name, m_str);
      u.Num(d, DW_AT_byte_size, DW_FORM_data1, std::max<uint32_t>(t.size, 1));
      for (const mirl::api::Enumerator& e : m_p.Enumerators(typeId)) {
        size_t ed = u.Add(d, DW_TAG_enumerator);
        u.Text(ed, DW_AT_name, e.name, m_str);
        u.Num(ed, DW_AT_const_value, DW_FORM_sdata, uint64_t(int64_t(int32_t(e.value))));
      }
      break;
    }
    case 49:
      d = make(DW_TAG_typedef);
      u.Text(d, DW_AT_name, t.name, m_str);
      refer(d, w[0]);
      break;
    default:
      if (!fixedPointer) return kNoDie;  // bit fields alone, pointers to members
      d = make(DW_TAG_pointer_type);
      if (t.size) u.Num(d, DW_AT_byte_size, DW_FORM_data1, t.size);
      refer(d, w[0]);
      break;
  }
  return d;
}

// The DWARF expression of a place: an address of program, data or eeprom
// memory, or (AVR, whose DWARF register numbers are r0..r31) the register
// group the component names, a piece per byte of the variable.
bool Exporter::LocationExpr(const mirl::api::Location& loc, uint32_t size,
                            std::vector<uint8_t>* pExpr) {
  constexpr uint8_t kMemRegister = 16, kOpReg0 = 0x50, kOpPiece = 0x93;
  if (loc.kind != 1 || !loc.hasAddress) return false;
  if (loc.memType == kProgram || loc.memType == kData || loc.memType == kEeprom) {
    *pExpr = AddrExpr(Place(loc.memType, loc.address));
    return true;
  }
  if (loc.memType != kMemRegister || m_t.machine != EM_AVR || size == 0 || size > 8 ||
      loc.address + size > 32)
    return false;
  pExpr->clear();
  for (uint32_t i = 0; i < size; ++i) {
    pExpr->push_back(uint8_t(kOpReg0 + loc.address + i));
    if (size > 1) pExpr->insert(pExpr->end(), {kOpPiece, 1});
  }
  return true;
}

// The function type of a function symbol, through the memory attribute and
// qualifiers that wrap it.
bool Exporter::FunctionType(const SymbolFacts& f, mirl::api::Type* pType) const {
  *pType = f.type;
  for (unsigned depth = 0; depth < 8; ++depth) {
    if (pType->kind == 20 || pType->kind == 35) return true;
    if (!(pType->kind == 42 || pType->kind == 43 || pType->kind == 36) ||
        !m_p.GetType(pType->words[1], pType))
      return false;
  }
  return false;
}

// The file does not mark parameters. A function scope lists its symbols
// in declaration order, so its leading symbols whose types are the function
// type's parameter types, in order, are its parameters (with a leading
// "this" of a member function, which the function type does not list).
std::set<uint32_t> Exporter::ParametersOf(const mirl::api::Scope& scope,
                                          const mirl::api::Type& function) {
  std::vector<uint32_t> types = m_p.Parameters(function.id);
  std::set<uint32_t> out;
  size_t next = 0;
  for (uint32_t id : scope.symbols) {
    if (id >= m_syms.size()) break;
    mirl::api::Type expected;
    if (out.empty() && next == 0 && m_syms[id].sym.name == "this") {
      out.insert(id);
      continue;
    }
    if (next >= types.size() || !m_p.GetType(types[next], &expected) ||
        expected.name != m_syms[id].type.name)
      break;
    out.insert(id);
    ++next;
  }
  return next == types.size() ? out : std::set<uint32_t>{};
}

void Exporter::AddVariables(Unit& u, size_t parent, const mirl::api::Scope& scope, bool fileLevel,
                            uint32_t low, uint32_t high, const std::set<uint32_t>& parameters) {
  for (uint32_t id : scope.symbols) {
    if (id >= m_syms.size()) continue;
    const SymbolFacts& f = m_syms[id];
    // Functions come as subprograms; names of types (class 6), references
    // to another module's symbols and untyped names are no variables.
    if (!f.typed || f.function || f.sym.cls == 6 || f.sym.cls == 4 || f.type.spec == 7) continue;
    size_t v = u.Add(parent, parameters.count(id) ? DW_TAG_formal_parameter : DW_TAG_variable);
    u.Text(v, DW_AT_name, f.sym.name, m_str);
    size_t type = TypeDie(u, f.sym.type, 0);
    if (type != kNoDie) u.Ref(v, DW_AT_type, type);
    if (fileLevel && f.sym.cls != 3) u.Flag(v, DW_AT_external);
    ++m_report.variables;
    std::vector<uint8_t> expr;
    if (f.sym.ranges.empty() || low >= high) {
      // One place for the whole scope; a frame place, or one that changes
      // with the address outside any code, is left out rather than given
      // wrong.
      mirl::api::Location loc = m_p.SymbolLocation(id, 0xFFFFFFFFu);
      if (!f.sym.ranges.empty()) continue;
      if (loc.kind == 3 && loc.hasAddress)
        u.Num(v, DW_AT_const_value, DW_FORM_sdata, uint64_t(int64_t(int32_t(loc.address))));
      else if (LocationExpr(loc, f.type.size, &expr))
        u.Expr(v, DW_AT_location, expr);
      continue;
    }
    // A place that changes with the address: a location list over the
    // scope's code, cut where a range begins, asking the component for the
    // place at each cut.
    std::set<uint32_t> cuts{low, high};
    for (const mirl::api::LocationRange& r : f.sym.ranges)
      if (r.start > low && r.start < high) cuts.insert(r.start);
    std::vector<std::tuple<uint32_t, uint32_t, std::vector<uint8_t>>> entries;
    for (auto c = cuts.begin(); std::next(c) != cuts.end(); ++c) {
      if (!LocationExpr(m_p.SymbolLocation(id, *c), f.type.size, &expr)) continue;
      if (!entries.empty() && std::get<1>(entries.back()) == *c &&
          std::get<2>(entries.back()) == expr)
        std::get<1>(entries.back()) = *std::next(c);
      else
        entries.emplace_back(*c, *std::next(c), expr);
    }
    if (entries.empty()) continue;
    u.Num(v, DW_AT_location, DW_FORM_sec_offset, m_loc.Size());
    m_loc.U32(0xFFFFFFFFu);  // base address 0: the entries hold addresses
    m_loc.U32(0);
    for (const auto& [from, to, e] : entries) {
      m_loc.U32(from), m_loc.U32(to), m_loc.U16(e.size());
      m_loc.Append(e);
    }
    m_loc.U32(0), m_loc.U32(0);
  }
}

void Exporter::AddScope(Unit& u, size_t parent, uint32_t scopeId, Intervals* pRanges,
                        unsigned depth) {
  // A damaged tree may list a scope twice or under itself: each is
  // written once.
  if (scopeId >= m_scopes.size() || depth > kMaxTypeDepth || m_written[scopeId]) return;
  m_written[scopeId] = true;
  const mirl::api::Scope& sc = m_scopes[scopeId];
  bool function = sc.kind == mirl::api::kFunction;
  size_t d = u.Add(parent, function ? DW_TAG_subprogram : DW_TAG_lexical_block);
  if (function) {
    ++m_report.functions;
    u.Text(d, DW_AT_name, sc.name, m_str);
  }
  uint32_t dieLow = sc.high;  // no code: nothing to list places over
  std::set<uint32_t> parameters;
  if (sc.low < sc.high) {
    uint32_t low = sc.low;
    if (function) {
      // The function's symbol: its code begins there, before the scope's
      // first statement (the prologue).
      static const std::vector<uint32_t> kNone;
      for (uint32_t id : sc.parent < m_scopes.size() ? m_scopes[sc.parent].symbols : kNone) {
        if (id >= m_syms.size()) continue;
        const SymbolFacts& f = m_syms[id];
        if (!f.function || f.sym.name != sc.name || f.address > sc.low) continue;
        bool clear = std::none_of(pRanges->begin(), pRanges->end(), [&](const auto& r) {
          return r.first < sc.low && r.second > f.address;
        });
        if (clear) low = f.address;
        if (f.sym.cls != 3) u.Flag(d, DW_AT_external);
        mirl::api::Type ft;
        if (f.typed && FunctionType(f, &ft)) {
          parameters = ParametersOf(sc, ft);
          size_t ret = TypeDie(u, ft.words[0], 0);
          if (ret != kNoDie) u.Ref(d, DW_AT_type, ret);
          u.Flag(d, DW_AT_prototyped);
        }
        break;
      }
    }
    u.Num(d, DW_AT_low_pc, DW_FORM_addr, low);
    u.Num(d, DW_AT_high_pc, DW_FORM_data4, sc.high - low);
    if (function) pRanges->emplace_back(low, sc.high);
    dieLow = low;
  }
  AddVariables(u, d, sc, false, dieLow, sc.high, parameters);
  // A block is nested only where its code lies inside its parent's.
  Intervals inner;
  for (uint32_t child : sc.children) {
    if (child >= m_scopes.size() || m_scopes[child].kind == mirl::api::kModule) continue;
    const mirl::api::Scope& c = m_scopes[child];
    if (c.low < c.high && !(sc.low < sc.high && c.low >= sc.low && c.high <= sc.high)) continue;
    AddScope(u, d, child, &inner, depth + 1);
  }
}

std::vector<LineSequence> Exporter::Lines(uint32_t module, std::vector<LineFile>* pFiles) {
  // Statements with code, by address. Where several begin at one address,
  // the row says what the component answers for that address.
  std::map<uint32_t, LineRow> rows;
  std::map<uint32_t, uint32_t> ends;
  std::map<uint32_t, uint32_t> fileIndex;
  for (size_t i = 0; i < m_statements.size(); ++i) {
    const mirl::api::Statement& st = m_statements[i];
    if (m_statementModules[i] != module) continue;
    uint32_t file = st.file, line = st.line;
    mirl::api::SourcePosition pos;
    if (m_p.SourceAt(st.address, &pos) && pos.start == st.address && pos.file < m_files.size())
      file = pos.file, line = pos.line;
    auto fi = fileIndex.find(file);
    if (fi == fileIndex.end()) {
      fi = fileIndex.emplace(file, uint32_t(pFiles->size() + 1)).first;
      pFiles->push_back(SplitPath(m_files[file].mappedPath));
    }
    rows[st.address] = {st.address, fi->second, line + 1, st.column + 1};
    uint64_t end = std::min<uint64_t>(uint64_t(st.address) + st.length, 0xFFFFFFFFu);
    ends[st.address] = std::max(ends[st.address], uint32_t(end));
  }
  std::vector<LineSequence> out;
  for (const auto& r : rows) {
    // A new sequence where the code before it ended short of it.
    if (out.empty() || r.first > out.back().end) out.emplace_back();
    out.back().rows.push_back(r.second);
    out.back().end = std::max(out.back().end, ends[r.first]);
  }
  return out;
}

void Exporter::BuildDwarf(ElfImage* pImage) {
  InfoWriter info;
  Bytes line, aranges, ranges;
  std::vector<mirl::api::Module> modules = m_p.Modules();
  for (uint32_t m = 0; m < modules.size(); ++m) {
    const mirl::api::Module& mod = modules[m];
    if (mod.scope >= m_scopes.size()) continue;
    const mirl::api::Scope& ms = m_scopes[mod.scope];
    std::vector<LineFile> files;
    std::vector<LineSequence> seqs = Lines(m, &files);
    bool anything = !seqs.empty() || ms.low < ms.high ||
                    std::any_of(ms.symbols.begin(), ms.symbols.end(), [&](uint32_t id) {
                      return id < m_syms.size() && m_syms[id].variable;
                    });
    if (!anything) continue;
    m_typeDies.clear();
    Unit u;
    // The unit is named after its main source: the file named as the
    // module, else the first file of its lines.
    LineFile main{"", mod.name};
    for (const LineFile& f : files)
      if (Lower(f.name.substr(0, f.name.rfind('.'))) == Lower(mod.name)) main = f;
    if (main.directory.empty() && !files.empty()) main = files.front();
    u.Text(0, DW_AT_producer, mod.hasToolVersion ? mod.toolVersion : "unknown", m_str);
    u.Num(0, DW_AT_language, DW_FORM_data2, LanguageOf(main.name));
    u.Text(0, DW_AT_name, main.directory.empty() ? main.name : main.directory + "/" + main.name,
           m_str);
    // A stored drive-letter path is no absolute path to the tools on this
    // host, which would put comp_dir in front of every file's own folder:
    // comp_dir is written when the paths were remapped to absolute ones.
    if (StartsWith(main.directory, "/")) u.Text(0, DW_AT_comp_dir, main.directory, m_str);
    u.Num(0, DW_AT_stmt_list, DW_FORM_sec_offset, line.Size());
    WriteLineProgram(files, seqs, &line);
    for (const LineSequence& s : seqs) m_report.lineRows += uint32_t(s.rows.size());

    Intervals code;
    for (uint32_t child : ms.children)
      if (child < m_scopes.size() && m_scopes[child].kind != mirl::api::kModule)
        AddScope(u, 0, child, &code, 1);
    AddVariables(u, 0, ms, true, 0, 0);
    if (m_report.units == 0) {
      // Named types that no variable uses (a struct only a pointer cast
      // names) go to the first unit, so that gdb knows them all by name.
      // Counted once: a file may declare tens of thousands of types.
      static const std::set<uint32_t> kNamed{17, 18, 52, 44, 51, 49};
      mirl::api::Type t;
      const uint32_t types = m_p.Count().types;
      for (uint32_t id = 0; id < types; ++id)
        if (m_p.GetType(id, &t) && kNamed.count(t.kind)) TypeDie(u, id, 0);
    }
    if (ms.low < ms.high) code.emplace_back(ms.low, ms.high);
    for (const LineSequence& s : seqs) code.emplace_back(s.rows.front().address, s.end);
    code = Merge(code);
    // The unit's code: one range, or a list in .debug_ranges.
    if (code.size() == 1) {
      u.Num(0, DW_AT_low_pc, DW_FORM_addr, code[0].first);
      u.Num(0, DW_AT_high_pc, DW_FORM_data4, code[0].second - code[0].first);
    } else if (!code.empty()) {
      u.Num(0, DW_AT_low_pc, DW_FORM_addr, 0);
      u.Num(0, DW_AT_ranges, DW_FORM_sec_offset, ranges.Size());
      for (const auto& r : code) ranges.U32(r.first), ranges.U32(r.second);
      ranges.U32(0), ranges.U32(0);
    }
    if (!code.empty()) {
      aranges.U32(uint32_t(20 + 8 * code.size()));
      aranges.U16(2);
      aranges.U32(uint32_t(info.info.Size()));
      aranges.U8(4);
      aranges.U8(0);
      aranges.U32(0);  // pads the header to twice the address size
      for (const auto& r : code) aranges.U32(r.first), aranges.U32(r.second - r.first);
      aranges.U32(0), aranges.U32(0);
    }
    info.Write(u);
    ++m_report.units;
  }
  auto add = [&](const char* name, std::vector<uint8_t> bytes) {
    if (bytes.empty()) return;
    Section s;
    s.name = name;
    s.bytes = std::move(bytes);
    pImage->sections.push_back(std::move(s));
  };
  add(".debug_info", info.info.data);
  add(".debug_abbrev", info.Abbreviations().data);
  add(".debug_line", line.data);
  add(".debug_aranges", aranges.data);
  add(".debug_ranges", ranges.data);
  add(".debug_loc", m_loc.data);
  add(".debug_str", m_str.section.data);
}

bool Exporter::Build(ElfImage* pImage, ElfReport* pReport, std::string* pError) {
  m_scopes.resize(m_p.Count().scopes);
  for (uint32_t i = 0; i < m_scopes.size(); ++i) m_p.GetScope(i, &m_scopes[i]);
  m_written.assign(m_scopes.size(), false);
  m_files = m_p.SourceFiles();
  m_statements = m_p.Statements();
  m_statementModules.assign(m_statements.size(), ~0u);
  for (size_t i = 0; i < m_statements.size(); ++i) {
    const mirl::api::Statement& st = m_statements[i];
    if (st.length == 0 || st.file >= m_files.size()) continue;
    uint32_t scope = m_p.ScopeAt(st.address, mirl::api::kModule);
    if (scope < m_scopes.size()) m_statementModules[i] = m_scopes[scope].module;
  }
  for (mirl::api::Symbol& sym : m_p.Symbols()) {
    SymbolFacts f;
    mirl::api::Location loc = m_p.SymbolLocation(sym.id, 0xFFFFFFFFu);
    f.placed = loc.kind == 1 && loc.hasAddress &&
               (loc.memType == kProgram || loc.memType == kData || loc.memType == kEeprom);
    f.memType = loc.memType;
    f.address = loc.address;
    f.typed = m_p.GetType(sym.type, &f.type) && f.type.kind != 0;
    // Class 1 without a type in program memory: a value the linker
    // defined (a stack size), not code.
    f.constant = f.placed && f.memType == kProgram && sym.cls == 1 && !f.typed;
    f.function = f.placed && f.memType == kProgram && !f.constant && sym.cls != 4 &&
                 (!f.typed || f.type.spec == 7);
    f.variable = f.placed && !f.function && !f.constant && f.typed;
    f.sym = std::move(sym);
    if (f.sym.id >= m_syms.size()) m_syms.resize(size_t(f.sym.id) + 1);
    m_syms[f.sym.id] = std::move(f);
  }
  pImage->machine = m_t.machine;
  mirl::api::Image program = m_p.Memory(kProgram);
  pImage->entry = program.lowest <= program.highest ? program.lowest : 0;
  for (uint8_t memType : {kProgram, kData, kEeprom})
    if (!AddMemory(pImage, memType, pError)) return false;
  if (m_t.machine == EM_AVR) {
    // simavr reads the CPU from .mmcu: tag 1 (name), its length, the name.
    for (const mirl::api::KeyValue& kv : m_p.KeyValues()) {
      if (kv.key != "__cpu_name" || kv.value.empty() || kv.value.size() > 250) continue;
      Section s;
      s.name = ".mmcu";
      std::string name = Lower(kv.value);
      s.bytes = {1, uint8_t(name.size() + 1)};
      s.bytes.insert(s.bytes.end(), name.begin(), name.end());
      s.bytes.insert(s.bytes.end(), {0, 0, 0});  // the terminator, then the end tag
      pImage->sections.push_back(std::move(s));
      break;
    }
  }
  AddSymbols(pImage);
  BuildDwarf(pImage);
  m_report.target = m_t;
  *pReport = m_report;
  return true;
}

}  // namespace

bool TargetNamed(const std::string& name, Target* pTarget) {
  for (const Target& t : kTargets)
    if (Lower(name) == t.name) {
      *pTarget = t;
      return true;
    }
  return false;
}

Target TargetOf(const Program& p) {
  std::string found = "none";
  for (const mirl::api::KeyValue& kv : p.KeyValues()) {
    std::string v = Lower(kv.value);
    // The CPU names of the AVR family ("ATmega48", "ATtiny24"); the cores
    // of MSP430 ("430", "430X") and of the 8051 family ("plain").
    if (kv.key == "__cpu_name" && StartsWith(v, "at")) found = "avr";
    if (kv.key == "__cpu_name" && StartsWith(v, "msp430")) found = "msp430";
    if (kv.key == "__core" && StartsWith(v, "430")) found = "msp430";
    if (kv.key == "__core" && (v == "plain" || StartsWith(v, "extended"))) found = "8051";
  }
  Target t;
  TargetNamed(found, &t);
  return t;
}

const char* TargetHelp() {
  return "  avr         data at 0x800000 + address, eeprom at 0x810000 + address\n"
         "              (as avr-gcc places them and avr-gdb and simavr expect)\n"
         "  msp430      data in the one address space, eeprom at 0x1000000\n"
         "  8051, none  data at 0x1000000, eeprom at 0x2000000; banked 8051 code at\n"
         "              bank * 0x10000 + address, loaded (p_paddr) at its place in flash";
}

bool ExportElf(const Program& p, const Target& target, const std::string& path, ElfReport* pReport,
               std::string* pError) {
  Target t = target.name.empty() ? TargetOf(p) : target;
  ElfImage image;
  Exporter e(p, t);
  if (!e.Build(&image, pReport, pError)) return false;
  return WriteElf(image, path, pError);
}

}  // namespace elfx
