// A small UBROF writer for tests, examples and benchmarks: each method emits
// one record byte for byte (tag first, numbers big-endian), so a test states
// the records it parses. Raw bytes can be mixed in for damaged files.
#ifndef MIRL_TESTS_UBROFWRITER_H
#define MIRL_TESTS_UBROFWRITER_H

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace ubrofw {

// One location range of a symbol (13 bytes in the file).
struct Range {
  uint32_t start;
  uint8_t cls;
  uint16_t memAttr;
  uint32_t value;
  uint16_t tag = 0;
};

// A local symbol entry of t_func_begin1 / t_block_begin1.
struct Local {
  uint8_t cls;
  uint16_t memAttr;
  uint32_t value;
  std::string name;
  uint16_t typeId;
  std::vector<Range> ranges;
};

struct Member17 {  // struct member: offset, name, type
  uint32_t offset;
  std::string name;
  uint16_t type;
};
struct Member18 {  // union member: name, type
  std::string name;
  uint16_t type;
};
struct Member52 {  // composite member: offset, name index, type, extra
  uint32_t offset;
  uint32_t nameIndex;
  uint16_t type;
  uint32_t extra;
};
struct Enumerator44 {
  std::string name;
  uint32_t value;
};
struct Enumerator51 {
  uint32_t nameIndex;
  uint32_t value;
};
struct SegEntry {  // one entry of t_seg_info
  std::string name;
  uint16_t m = 0;  // number of 8-byte items that follow the name
};

class Writer {
 public:
  std::vector<uint8_t> bytes;

  // ---- raw -----------------------------------------------------------------
  Writer& Byte(uint32_t b) {
    bytes.push_back(uint8_t(b));
    return *this;
  }
  Writer& Word(uint32_t w) {
    Byte(w >> 8);
    return Byte(w);
  }
  Writer& Long(uint32_t l) {
    Word(l >> 16);
    return Word(l);
  }
  Writer& Raw(const std::vector<uint8_t>& b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
  Writer& Text(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  Writer& Zeros(size_t n) {
    bytes.insert(bytes.end(), n, 0);
    return *this;
  }
  // Lengths that do not fit their field are a mistake in the test, not a
  // damaged file: those are written with Byte/Word/Raw on purpose.
  Writer& ByteString(const std::string& s) { return Byte(Fits(s.size(), 0xFF)).Text(s); }
  Writer& WordString(const std::string& s) { return Word(Fits(s.size(), 0xFFFF)).Text(s); }
  Writer& LongString(const std::string& s) { return Long(uint32_t(s.size())).Text(s); }
  size_t Size() const { return bytes.size(); }

  // ---- framing and modules ----------------------------------------------
  Writer& BegFile() { return Byte(0x4D); }
  // second, minute, hour, day, month, year - 1900
  Writer& BegFile1(uint8_t sec, uint8_t min, uint8_t hour, uint8_t day, uint8_t month,
                   uint8_t year1900) {
    return Byte(0xA5).Byte(sec).Byte(min).Byte(hour).Byte(day).Byte(month).Byte(year1900);
  }
  Writer& Eof() { return Byte(0xFF); }
  Writer& Version(uint8_t v, uint8_t minor, uint8_t rev,
                  std::vector<std::pair<uint8_t, uint8_t>> skip = {}) {
    Byte(0xBD).Byte(v).Byte(minor).Byte(rev);
    if (v >= 9) return *this;  // the reader stops after the version bytes
    Byte(uint32_t(skip.size()));
    for (auto& p : skip) Byte(p.first).Byte(p.second);
    return *this;
  }
  Writer& SegInfo(const std::vector<SegEntry>& entries) {
    Byte(0xC0).Zeros(4).Word(uint32_t(entries.size()));
    for (const SegEntry& e : entries) {
      Zeros(5).ByteString(e.name).Word(e.m).Zeros(size_t(e.m) * 8);
    }
    return *this;
  }
  Writer& Grp(uint16_t g) { return Byte(0xBE).Zeros(4).Word(g); }
  Writer& GrpRef(uint16_t g) { return Byte(0xBF).Word(g); }
  Writer& KeyValue(const std::string& key, const std::string& value) {
    return Byte(0xC9).Zeros(4).LongString(key).LongString(value);
  }
  // day, month, year - 1900
  Writer& BegLib(const std::string& name, uint8_t day = 1, uint8_t month = 1,
                 uint8_t year1900 = 100, uint8_t tag = 0x00) {
    return Byte(tag).Byte(0).Byte(0).Byte(0).Byte(day).Byte(month).Byte(year1900).ByteString(name);
  }
  Writer& BegPgm(const std::string& name, uint8_t day = 1, uint8_t month = 1,
                 uint8_t year1900 = 100) {
    return BegLib(name, day, month, year1900, 0x01);
  }
  Writer& End() { return Byte(0x3F).Zeros(2); }
  Writer& EndAbs() { return Byte(0x3D).Zeros(8); }
  Writer& Debug(uint8_t level) { return Byte(0x52).Byte(level); }
  Writer& Aux(uint16_t v) { return Byte(0x53).Word(v); }
  Writer& Aux1(uint16_t v, const std::string& toolVersion) {
    return Byte(0x54).Word(v).ByteString(toolVersion);
  }

  // ---- source files and statements ---------------------------------------
  Writer& File(const std::string& name, const std::vector<std::string>& lines) {
    Byte(0x46).Word(uint32_t(lines.size())).ByteString(name);
    for (const std::string& l : lines) WordString(l);
    return *this;
  }
  Writer& FileRef(uint16_t ref, const std::string& path, uint8_t sec = 0, uint8_t min = 0,
                  uint8_t hour = 0, uint8_t day = 1, uint8_t month = 1, uint8_t year1900 = 100) {
    return Byte(0xB9)
        .Word(ref)
        .WordString(path)
        .Byte(sec)
        .Byte(min)
        .Byte(hour)
        .Byte(day)
        .Byte(month)
        .Byte(year1900);
  }
  Writer& NewFile(uint16_t ref) { return Byte(0xBA).Word(ref); }
  // 1-based line, column, line end, column end, statement kind
  Writer& SrcStat(uint16_t line, uint16_t col, uint16_t lineEnd, uint16_t colEnd,
                  uint8_t kind = 0) {
    return Byte(0x47).Word(line).Word(col).Word(lineEnd).Word(colEnd).Byte(kind);
  }
  Writer& SourceRange() { return Byte(0xCF).Zeros(14); }

  // ---- names and scopes ---------------------------------------------------
  Writer& ScopedName1(const std::string& text, uint32_t link) {
    return Byte(0xCD).Zeros(4).Byte(1).LongString(text).Long(link);
  }
  Writer& ScopedName2(uint32_t link, uint16_t number) {
    return Byte(0xCD).Zeros(4).Byte(2).Long(link).Word(number);
  }
  Writer& ScopedName3(uint32_t link, uint32_t number) {
    return Byte(0xCD).Zeros(4).Byte(3).Long(link).Long(number);
  }
  Writer& ScopedNameForm(uint8_t form) { return Byte(0xCD).Zeros(4).Byte(form); }

  Writer& FuncBegin() { return Byte(0x50); }
  Writer& BlockBegin() { return Byte(0x48); }
  Writer& FuncBegin1(const std::string& name, const std::vector<Local>& locals = {}) {
    Byte(0xA7).ByteString(name).Zeros(8).Word(uint32_t(locals.size()));
    for (const Local& l : locals) LocalEntry(l);
    return *this;
  }
  Writer& BlockBegin1(const std::vector<Local>& locals = {}) {
    Byte(0xA8).Word(uint32_t(locals.size()));
    for (const Local& l : locals) LocalEntry(l);
    return *this;
  }
  Writer& BlockBegin3(uint32_t nameIndex) { return Byte(0xD0).Long(nameIndex); }
  Writer& BlockEnd() { return Byte(0x49); }

  // ---- symbols and macros -------------------------------------------------
  Writer& SymbolDef(uint8_t cls, uint16_t memAttr, uint32_t value, const std::string& name,
                    uint16_t typeId, const std::string& extra = "") {
    return Byte(0x4C).Byte(cls).Word(memAttr).Long(value).ByteString(name).Word(typeId).ByteString(
        extra);
  }
  Writer& SymbolDef1(uint8_t cls, uint16_t memAttr, uint32_t value, const std::string& name,
                     uint16_t typeId, const std::vector<Range>& ranges = {}) {
    Byte(0xA6).Byte(cls).Word(memAttr).Long(value).ByteString(name).Word(typeId);
    Word(uint32_t(ranges.size()));
    for (const Range& r : ranges) RangeEntry(r);
    return Byte(0);
  }
  Writer& SymbolDef2(uint8_t cls, uint16_t memAttr, uint32_t value, uint32_t nameIndex,
                     uint16_t typeId, const std::vector<Range>& ranges = {}) {
    Byte(0xCE).Zeros(4).Byte(cls).Word(memAttr).Long(value).Long(nameIndex).Word(typeId);
    Word(uint32_t(ranges.size()));
    for (const Range& r : ranges) RangeEntry(r);
    return Byte(0);
  }
  Writer& SubDefObjAttr(uint32_t attribute, const std::string& extra = "") {
    return Byte(0xC3).Zeros(2).Long(attribute).ByteString(extra);
  }
  Writer& Macro(const std::string& name, const std::string& text) {
    return Byte(0x4E).ByteString(name).WordString(text);
  }

  // ---- types ----------------------------------------------------------------
  Writer& TypeHead(uint16_t id, uint8_t kind) { return Byte(0x4A).Word(id).Byte(kind); }
  // kinds 15, 23..34, 37..40, 53
  Writer& TypePointer(uint16_t id, uint16_t pointee, uint8_t kind = 15) {
    return TypeHead(id, kind).Word(pointee);
  }
  Writer& TypeArray16(uint16_t id, uint16_t elem, uint32_t size, uint16_t count) {
    return TypeHead(id, 16).Word(elem).Long(size).Word(count);
  }
  Writer& TypeArray41(uint16_t id, uint16_t elem, uint32_t size, uint32_t count) {
    return TypeHead(id, 41).Word(elem).Long(size).Long(count);
  }
  Writer& TypeStruct17(uint16_t id, const std::string& tag, uint32_t size,
                       const std::vector<Member17>& members) {
    TypeHead(id, 17).ByteString(tag).Long(size).Word(uint32_t(members.size()));
    for (const Member17& m : members) Long(m.offset).ByteString(m.name).Word(m.type);
    return *this;
  }
  Writer& TypeUnion18(uint16_t id, const std::string& tag, uint32_t size,
                      const std::vector<Member18>& members) {
    TypeHead(id, 18).ByteString(tag).Long(size).Word(uint32_t(members.size()));
    for (const Member18& m : members) ByteString(m.name).Word(m.type);
    return *this;
  }
  // count is written as given (it may disagree with members.size() on purpose)
  Writer& TypeComposite52(uint16_t id, uint32_t nameIndex, uint32_t selector, uint32_t size,
                          uint32_t count, const std::vector<Member52>& members) {
    TypeHead(id, 52).Long(nameIndex).Long(selector).Long(size).Long(count);
    for (const Member52& m : members) Long(m.offset).Long(m.nameIndex).Word(m.type).Long(m.extra);
    return *this;
  }
  Writer& TypeBitfield(uint16_t id, uint8_t width, uint8_t offset, uint16_t base) {
    return TypeHead(id, 19).Byte(width).Byte(offset).Word(base);
  }
  Writer& TypeFunction20(uint16_t id, uint16_t ret, uint8_t flags,
                         const std::vector<uint16_t>& params) {
    TypeHead(id, 20).Word(ret).Byte(flags).Byte(uint32_t(params.size()));
    for (uint16_t p : params) Word(p);
    return *this;
  }
  Writer& TypeFunction35(uint16_t id, uint16_t ret, uint8_t flags, uint32_t l,
                         const std::vector<uint16_t>& params) {
    TypeHead(id, 35).Word(ret).Byte(flags).Long(l).Byte(uint32_t(params.size()));
    for (uint16_t p : params) Word(p);
    return *this;
  }
  Writer& TypeQualified21(uint16_t id, uint8_t flags, uint16_t type) {
    return TypeHead(id, 21).Byte(flags).Word(type);
  }
  Writer& TypeQualified36(uint16_t id, uint32_t flags, uint16_t type) {
    return TypeHead(id, 36).Long(flags).Word(type);
  }
  // kinds 42 and 43
  Writer& TypeAttributed(uint16_t id, uint8_t attr, uint16_t type, uint32_t qualifiers,
                         const std::vector<uint8_t>& extra = {}, uint8_t kind = 42) {
    TypeHead(id, kind).Byte(attr).Word(type).Long(qualifiers).Byte(uint32_t(extra.size()));
    return Raw(extra);
  }
  Writer& TypeEnum44(uint16_t id, uint16_t underlying, const std::string& tag,
                     const std::vector<Enumerator44>& items) {
    TypeHead(id, 44).Word(underlying).ByteString(tag).Long(uint32_t(items.size()));
    for (const Enumerator44& e : items) ByteString(e.name).Long(e.value);
    return *this;
  }
  Writer& TypeEnum51(uint16_t id, uint16_t underlying, uint32_t tagIndex, uint32_t count,
                     const std::vector<Enumerator51>& items) {
    TypeHead(id, 51).Word(underlying).Long(tagIndex).Long(count);
    for (const Enumerator51& e : items) Long(e.nameIndex).Long(e.value);
    return *this;
  }
  Writer& TypeTypedef(uint16_t id, uint16_t type, uint32_t nameIndex) {
    return TypeHead(id, 49).Word(type).Long(nameIndex);
  }
  Writer& TypePtrToMember(uint16_t id, uint16_t type, uint16_t classType) {
    return TypeHead(id, 50).Word(type).Word(classType).Zeros(2);
  }
  Writer& SizeType(uint8_t kind, uint8_t size) { return Byte(0x4F).Byte(kind).Byte(size); }
  Writer& DefPtrTypes() { return Byte(0xC1).Zeros(5); }
  Writer& MemInfo(uint8_t number, uint8_t ptrSize, uint32_t flags, const std::string& name) {
    return Byte(0xC6).Zeros(2).Byte(number).Byte(ptrSize).Byte(0).Long(flags).ByteString(name);
  }

  // ---- memory ---------------------------------------------------------------
  Writer& Org(uint8_t segType, uint32_t address) { return Byte(0x51).Byte(segType).Long(address); }
  Writer& AbsVar(const std::vector<uint8_t>& data) {
    Byte(0x39).Byte(Fits(data.size(), 0xFF));
    return Raw(data);
  }

  // A minimal well-formed file around the records a test adds:
  // Writer w; w.Start(); ...; w.Finish();
  Writer& Start() { return BegFile1(0, 30, 12, 24, 12, 99).Version(8, 0, 2); }
  Writer& Finish() { return Eof(); }

  bool Save(const std::string& path) const {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
  }

 private:
  static uint32_t Fits(size_t n, size_t max) {
    if (n > max) throw std::length_error("UBROF writer: length does not fit its field");
    return uint32_t(n);
  }
  void RangeEntry(const Range& r) {
    Word(r.tag).Long(r.start).Byte(r.cls).Word(r.memAttr).Long(r.value);
  }
  void LocalEntry(const Local& l) {
    Byte(l.cls).Word(l.memAttr).Long(l.value).ByteString(l.name).Word(l.typeId);
    Word(uint32_t(l.ranges.size()));
    for (const Range& r : l.ranges) RangeEntry(r);
  }
};

}  // namespace ubrofw

#endif
