// The read API's view of the source files, statements and statement runs,
// and the two lookups between program addresses and source lines.
#include "../component/CMirlParserUbrof.h"
#include "../component/MirlProgram.h"

namespace mirl {
namespace api {

namespace {

uint32_t FileId(int32_t file) { return file < 0 ? kNoId : uint32_t(file); }

}  // namespace

std::vector<SourceFile> Program::SourceFiles() const {
  std::vector<SourceFile> out;
  out.reserve(m_p->m_SourceFiles.size());
  for (const SourceFileRecord& f : m_p->m_SourceFiles)
    out.push_back({f.Path, m_p->m_FileMapper.MapPath(f.Path), f.TimeStamp, f.Language, f.Temporary,
                   f.StatementRuns});
  return out;
}

std::vector<Statement> Program::Statements() const {
  const std::vector<StatementRecord>& st = m_p->m_Statements;
  std::vector<Statement> out(st.size());
  for (size_t i = 0; i < st.size(); ++i) {
    Statement& o = out[i];
    o.address = st[i].Address;
    o.length = st[i].Length;
    o.line = st[i].Line;
    o.lineEnd = uint32_t(st[i].Line) + st[i].LineSpan;
    o.column = st[i].Column;
    o.columnEnd = st[i].ColumnEnd;
    o.type = st[i].StatementType;
  }
  // A run's statements are contiguous ids; a run whose bounds a damaged file
  // left beyond the table is cut to it.
  const std::vector<mirl::StatementRun>& runs = m_p->m_StatementRuns;
  for (size_t r = 0; r < runs.size(); ++r) {
    uint64_t first = runs[r].FirstStatement;
    for (uint64_t i = first; i < first + runs[r].Count && i < out.size(); ++i) {
      out[size_t(i)].run = uint32_t(r);
      out[size_t(i)].file = FileId(runs[r].File);
    }
  }
  return out;
}

std::vector<StatementRun> Program::StatementRuns() const {
  std::vector<StatementRun> out;
  out.reserve(m_p->m_StatementRuns.size());
  for (const mirl::StatementRun& r : m_p->m_StatementRuns)
    out.push_back({FileId(r.File), r.FirstStatement, r.Count, r.MaxEndLine});
  return out;
}

bool Program::SourceAt(uint32_t address, SourcePosition* out) const {
  uint32_t id = 0, run = 0;
  if (!m_p->FindStatementAt(address, &id, &run)) return false;
  int32_t file = m_p->m_StatementRuns[run].File;
  // As at the interface: a statement read while no file was current has no
  // source to give.
  if (file < 0 || size_t(file) >= m_p->m_SourceFiles.size()) return false;
  const StatementRecord& st = m_p->m_Statements[id];
  out->path = m_p->m_FileMapper.MapPath(m_p->m_SourceFiles[size_t(file)].Path);
  out->file = uint32_t(file);
  out->statement = id;
  out->line = st.Line;
  out->column = st.Column;
  out->lineEnd = uint32_t(st.Line) + st.LineSpan;
  out->columnEnd = st.ColumnEnd;
  out->start = st.Address;
  return true;
}

bool Program::AddressOfLine(const std::string& path, uint32_t line, uint32_t* pAddress) const {
  return m_p->FindLineAddress(m_p->m_FileMapper.UnmapPath(path), line, pAddress);
}

}  // namespace api
}  // namespace mirl
