// The read API's view of what the framing, module and memory records filled:
// file facts, key/value pairs, modules, segment groups, memory images, the
// table sizes and what ended the last parse.
#include "../component/CMirlParserUbrof.h"
#include "../component/MirlProgram.h"

namespace mirl {
namespace api {

namespace {

uint32_t Clamp(size_t n) { return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(n); }

}  // namespace

ParseEnd Program::LastParse() const {
  const ParseDiagnostic& d = m_p->LastParseDiagnostic();
  ParseEnd e;
  e.failed = d.bFailed;
  e.message = d.pszMessage ? d.pszMessage : "";
  e.offset = d.lOffset;
  e.recordOffset = d.lRecordOffset;
  e.tag = d.nTag;
  e.tagName = d.pszTagName ? d.pszTagName : "";
  e.rejectedVersion = d.uVersion;
  return e;
}

FileFacts Program::File() const {
  FileFacts f;
  f.version = m_p->m_FileInfo.m_ucUbrofVersion;
  f.minor = m_p->m_FileInfo.m_ucUbrofMinor;
  f.revision = m_p->m_FileInfo.m_ucUbrofRevision;
  f.timeOfBuild = m_p->m_FileInfo.m_dateTimeOfBuild;
  f.compilerVersion = m_p->m_SymbolTable.CompilerVersion;
  f.learnedLayouts = m_p->m_FileInfo.m_bUbrof10;
  f.skippedRecords = m_p->m_FileInfo.m_ulSkippedRecords;
  return f;
}

Counts Program::Count() const {
  const CMirlParserUbrof& c = *m_p;
  Counts n;
  n.modules = Clamp(c.m_Modules.size());
  n.scopes = c.m_ScopeTable.Count();
  n.symbols = c.m_SymbolTable.Count();
  n.locationRanges = Clamp(c.m_SymbolTable.Ranges.size());
  n.labels = Clamp(c.m_SymbolIndex.size());
  n.macros = Clamp(c.m_Macros.size());
  n.segmentGroups = Clamp(c.m_SegmentGroups.size());
  n.sourceFiles = Clamp(c.m_SourceFiles.size());
  n.statements = Clamp(c.m_Statements.size());
  n.statementRuns = Clamp(c.m_StatementRuns.size());
  n.types = c.m_TypeTable.TypeCount();
  for (const TypeRecord& t : c.m_TypeTable.Types)
    if (t.Kind != kKindUndefined) ++n.definedTypes;
  n.members = Clamp(c.m_TypeTable.Members.size());
  n.memoryAttributes = Clamp(c.m_TypeTable.MemoryAttributes.size());
  n.names = c.m_NameTable.Count();
  n.keyValues = Clamp(c.m_KeyValues.size());
  return n;
}

std::vector<KeyValue> Program::KeyValues() const {
  std::vector<KeyValue> out;
  out.reserve(m_p->m_KeyValues.size());
  for (const KeyValueRecord& kv : m_p->m_KeyValues) out.push_back({kv.Key, kv.Value});
  return out;
}

std::vector<Module> Program::Modules() const {
  std::vector<Module> out(m_p->m_Modules.size());
  for (size_t i = 0; i < out.size(); ++i) {
    const ModuleRecord& m = m_p->m_Modules[i];
    Module& o = out[i];
    o.name = m.m_pszName;
    o.hasToolVersion = m.m_bHasToolVersion;
    o.toolVersion = m.m_pszToolVersion;
    o.created = m.m_dateCreated;
    o.aux = m.m_usAux;
    o.aux1 = m.m_usAux1;
    o.debug = m.m_ucDebug;
    for (int k = 0; k < 3; ++k) o.header[k] = m.m_aucHeader[k];
  }
  // A module's scope is the first module scope that names it.
  const ScopeTable& scopes = m_p->m_ScopeTable;
  for (uint32_t id = 0; id < scopes.Count(); ++id) {
    const ScopeRecord& s = scopes.Scopes[id];
    if (s.Kind == kScopeModule && s.ModuleIndex < out.size() && out[s.ModuleIndex].scope == kNoId)
      out[s.ModuleIndex].scope = id;
  }
  return out;
}

std::vector<SegmentGroup> Program::SegmentGroups() const {
  std::vector<SegmentGroup> out;
  out.reserve(m_p->m_SegmentGroups.size());
  for (const SegmentGroupRecord& g : m_p->m_SegmentGroups)
    out.push_back({g.m_MacroIds, g.m_SymbolIds});
  return out;
}

Image Program::Memory(uint8_t memType) const {
  Image out;
  out.memType = memType;
  const DMemory* image = m_p->Image(memType);
  if (!image) {
    out.lowest = 0xFFFFFFFFu;
    return out;
  }
  out.lowest = image->Lowest();
  out.highest = image->Highest();
  out.fill = image->Fill();
  const MemoryWrites& w = m_p->MemoryWritten();
  out.written = (memType == 1 ? w.Code : memType == 2 ? w.Data : w.Eeprom).Runs();
  return out;
}

std::vector<uint8_t> Program::Read(uint8_t memType, uint32_t address, uint32_t count) const {
  std::vector<uint8_t> bytes(count);
  // ReadImage wants a buffer also for no bytes.
  uint8_t none = 0;
  if (!m_p->ReadImage(memType, address, count, count ? bytes.data() : &none)) bytes.clear();
  return bytes;
}

}  // namespace api
}  // namespace mirl
