#include "DwarfWriter.h"

namespace elfx {

void Bytes::Uleb(uint64_t v) {
  do {
    uint8_t b = v & 0x7F;
    v >>= 7;
    U8(v ? b | 0x80 : b);
  } while (v);
}

void Bytes::Sleb(int64_t v) {
  for (;;) {
    uint8_t b = v & 0x7F;
    v >>= 7;  // arithmetic: the sign is kept
    bool done = (v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40));
    U8(done ? b : b | 0x80);
    if (done) return;
  }
}

uint32_t StringPool::Offset(const std::string& s) {
  auto it = m_offsets.find(s);
  if (it != m_offsets.end()) return it->second;
  uint32_t at = uint32_t(section.Size());
  section.Str(s);
  m_offsets.emplace(s, at);
  return at;
}

size_t Unit::Add(size_t parent, uint16_t tag) {
  dies.push_back(Die{tag, {}, {}});
  dies[parent].children.push_back(dies.size() - 1);
  return dies.size() - 1;
}

uint32_t InfoWriter::Code(const Die& die) {
  Key key{die.tag, !die.children.empty(), {}};
  for (const Attr& a : die.attrs) std::get<2>(key).emplace_back(a.name, a.form);
  auto it = m_codes.find(key);
  if (it != m_codes.end()) return it->second;
  m_order.push_back(key);
  return m_codes[key] = uint32_t(m_order.size());
}

Bytes InfoWriter::Abbreviations() const {
  Bytes out;
  for (size_t i = 0; i < m_order.size(); ++i) {
    out.Uleb(i + 1);
    out.Uleb(std::get<0>(m_order[i]));
    out.U8(std::get<1>(m_order[i]) ? 1 : 0);
    for (const auto& nf : std::get<2>(m_order[i])) {
      out.Uleb(nf.first);
      out.Uleb(nf.second);
    }
    out.U8(0);
    out.U8(0);
  }
  out.U8(0);
  return out;
}

void InfoWriter::Write(const Unit& unit) {
  const size_t start = info.Size();
  info.U32(0);  // unit length, patched below
  info.U16(4);  // DWARF 4
  info.U32(0);  // all units share one abbreviation table
  info.U8(4);   // 32-bit addresses
  // Pre-order, depth-first; a reference is patched once its target's
  // offset (from the unit's start) is known.
  std::vector<uint32_t> offsets(unit.dies.size(), 0);
  std::vector<std::pair<size_t, size_t>> fixups;  // where, which DIE
  std::vector<std::pair<size_t, size_t>> stack{{0, 0}};
  while (!stack.empty()) {
    auto& top = stack.back();
    if (top.second == 0) {
      const Die& d = unit.dies[top.first];
      offsets[top.first] = uint32_t(info.Size() - start);
      info.Uleb(Code(d));
      for (const Attr& a : d.attrs) {
        switch (a.form) {
          case DW_FORM_data1:
            info.U8(a.value);
            break;
          case DW_FORM_data2:
            info.U16(a.value);
            break;
          case DW_FORM_addr:
          case DW_FORM_data4:
          case DW_FORM_strp:
          case DW_FORM_sec_offset:
            info.U32(a.value);
            break;
          case DW_FORM_udata:
            info.Uleb(a.value);
            break;
          case DW_FORM_sdata:
            info.Sleb(int64_t(a.value));
            break;
          case DW_FORM_ref4:
            fixups.emplace_back(info.Size(), size_t(a.value));
            info.U32(0);
            break;
          case DW_FORM_exprloc:
            info.Uleb(a.block.size());
            info.Append(a.block);
            break;
          default:  // DW_FORM_flag_present: no bytes
            break;
        }
      }
    }
    const Die& d = unit.dies[top.first];
    if (top.second < d.children.size()) {
      size_t child = d.children[top.second++];
      stack.emplace_back(child, 0);
    } else {
      if (!d.children.empty()) info.U8(0);  // end of the children
      stack.pop_back();
    }
  }
  for (const auto& f : fixups) info.Patch32(f.first, offsets[f.second]);
  info.Patch32(start, uint32_t(info.Size() - start - 4));
}

void WriteLineProgram(const std::vector<LineFile>& files,
                      const std::vector<LineSequence>& sequences, Bytes* pOut) {
  enum : uint8_t {
    kCopy = 1,
    kAdvancePc = 2,
    kAdvanceLine = 3,
    kSetFile = 4,
    kSetColumn = 5,
  };
  Bytes header;
  header.U8(1);     // minimum instruction length
  header.U8(1);     // maximum operations per instruction
  header.U8(1);     // default is_stmt
  header.U8(0xFB);  // line base -5
  header.U8(14);    // line range
  header.U8(13);    // opcode base
  for (uint8_t n : {0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1}) header.U8(n);
  std::map<std::string, uint32_t> dirs;
  std::vector<std::string> dirOrder;
  for (const LineFile& f : files)
    if (!f.directory.empty() && dirs.emplace(f.directory, uint32_t(dirOrder.size() + 1)).second)
      dirOrder.push_back(f.directory);
  for (const std::string& d : dirOrder) header.Str(d);
  header.U8(0);
  for (const LineFile& f : files) {
    header.Str(f.name);
    header.Uleb(f.directory.empty() ? 0 : dirs[f.directory]);
    header.Uleb(0);  // time
    header.Uleb(0);  // length
  }
  header.U8(0);

  Bytes program;
  for (const LineSequence& seq : sequences) {
    if (seq.rows.empty()) continue;
    uint32_t address = seq.rows.front().address, file = 1, column = 0;
    int64_t line = 1;
    program.U8(0);  // extended: set the address
    program.Uleb(5);
    program.U8(2);
    program.U32(address);
    for (const LineRow& r : seq.rows) {
      if (r.file != file) {
        program.U8(kSetFile);
        program.Uleb(r.file);
        file = r.file;
      }
      if (r.column != column) {
        program.U8(kSetColumn);
        program.Uleb(r.column);
        column = r.column;
      }
      if (r.address != address) {
        program.U8(kAdvancePc);
        program.Uleb(r.address - address);
        address = r.address;
      }
      if (int64_t(r.line) != line) {
        program.U8(kAdvanceLine);
        program.Sleb(int64_t(r.line) - line);
        line = r.line;
      }
      program.U8(kCopy);
    }
    if (seq.end > address) {
      program.U8(kAdvancePc);
      program.Uleb(seq.end - address);
    }
    program.U8(0);  // extended: end of the sequence
    program.Uleb(1);
    program.U8(1);
  }

  Bytes& out = *pOut;
  size_t start = out.Size();
  out.U32(0);
  out.U16(4);
  out.U32(uint32_t(header.Size()));
  out.Append(header.data);
  out.Append(program.data);
  out.Patch32(start, uint32_t(out.Size() - start - 4));
}

}  // namespace elfx
