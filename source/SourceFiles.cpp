// The source-file table: file references, embedded sources (extracted to
// disk beside the object file) and the current file of the statements.
#include "SourceFiles.h"

#include <cstdio>
#include <memory>
#include <new>

#include "../component/CMirlParserUbrof.h"
#include "../platform/Paths.h"
#include "../ubrof/Parser.h"

namespace mirl {

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

void SplitPath(const std::string& path, std::string* pDir, std::string* pBase, std::string* pExt) {
  size_t slash = path.find_last_of("/\\");
  size_t start = slash != std::string::npos           ? slash + 1
                 : path.size() >= 2 && path[1] == ':' ? 2
                                                      : 0;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < start) dot = path.size();
  if (pDir) *pDir = path.substr(0, start);
  if (pBase) *pBase = path.substr(start, dot - start);
  if (pExt) *pExt = path.substr(dot);
}

namespace {

std::string ToBase9(uint32_t v) {
  std::string s;
  do {
    s.insert(s.begin(), char('0' + v % 9));
    v /= 9;
  } while (v);
  return s;
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

uint32_t CParser::RegisterFile(SourceFileRecord&& rec) {
  std::string key = LowerAscii(rec.Path);
  auto it = m_pFileNames->find(key);
  // The same path in other letter case is the same file; its first record
  // stays as it was.
  if (it != m_pFileNames->end()) return it->second;
  uint32_t id = uint32_t(m_pSourceFiles->size());
  m_pSourceFiles->push_back(std::move(rec));
  m_pFileNames->emplace(std::move(key), id);
  return id;
}

int CParser::t_file_ref() {
  uint32_t ref = ReadWord();
  StringPtr name = ReadWordString();
  SourceFileRecord rec;
  rec.Path = name.get();
  // Date bytes that form no valid date give no time stamp.
  DATE stamp = 0.0;
  if (ReadTimeStamp(&stamp)) rec.TimeStamp = stamp;
  // Every module has a list of its own, so a limit per record would not
  // bound the total.
  if (m_pScopes->CurrentModule != kNone)
    ReserveIndex(m_pScopes->Scopes[m_pScopes->CurrentModule].FileRefs.size(), ref);
  uint32_t id = RegisterFile(std::move(rec));
  m_pScopes->SetFileRef(ref, id);
  if (ref == 0) {
    m_lCurrentFile = int32_t(id);
    m_bNewRun = 1;
  }
  return 0;
}

int CParser::t_new_file() {
  uint32_t ref = ReadWord();
  // Unset entries and numbers beyond the module's list name no file.
  uint32_t id = m_pScopes->GetFileRef(ref);
  m_lCurrentFile = id == kNone ? -1 : int32_t(id);
  m_bNewRun = 1;
  return 0;
}

int CParser::t_file() {
  uint32_t lineCount = ReadWord();
  StringPtr storedName = ReadByteString();
  std::string base, ext;
  // Everything up to the last '/', '\\' or ':' is dropped whichever machine
  // wrote the name, so a name with directories, a drive or ".." can never
  // lead outside the extraction folder.
  std::string name = storedName.get();
  SplitPath(name.substr(name.find_last_of(':') + 1), nullptr, &base, &ext);

  std::string newBase = base + "_emb";
  auto it = m_EmbeddedNames.find(base);
  if (it == m_EmbeddedNames.end()) {
    m_EmbeddedNames.emplace(base, 0);
  } else {
    ++it->second;
    newBase += ToBase9(it->second);
  }

  // The copy goes to embedded_source below the object file's folder. The
  // folder and file name are joined with this platform's own separator, and
  // that same text becomes the record's path, so the host is given a path
  // it can open. No fixed-size buffers: a name the file system refuses is
  // simply not written.
  std::string directory;
  SplitPath(m_pszObjectFile ? m_pszObjectFile : "", &directory, nullptr, nullptr);
  directory += "embedded_source";
  platform::MakeDirectory(directory);  // fails harmlessly when it exists
  std::string target = directory + platform::NativeSeparator() + newBase + ext;

  {
    // Binary, so that each line ends in exactly CR LF on every platform.
    std::unique_ptr<FILE, FileCloser> out;
    if (m_ulExtractedSources < kMaxExtractedSources) {
      ++m_ulExtractedSources;
      out.reset(std::fopen(target.c_str(), "wb"));
    }
    std::unique_ptr<char[]> line(new char[65535 + 2]);
    for (uint32_t i = 0; i < lineCount; ++i) {
      uint32_t length = ReadWord();
      ReadBlock(line.get(), length);
      line[length] = '\r';
      line[length + 1] = '\n';
      // A file that cannot be written loses only its text; the lines are
      // read all the same.
      if (out) std::fwrite(line.get(), 1, length + 2, out.get());
    }
  }

  SourceFileRecord rec;
  rec.Path = target;
  rec.Temporary = 1;
  uint32_t id = RegisterFile(std::move(rec));
  m_pScopes->SetFileRef(0, id);
  m_lCurrentFile = int32_t(id);
  m_bNewRun = 1;
  return 0;
}

}  // namespace mirl

// ---------------------------------------------------------------------------
// Methods
// ---------------------------------------------------------------------------
HRESULT CMirlParserUbrof::GetSourceFileInfo(ULONG ulFileId, BSTR* pbstrPath, DATE* pdateTimeStamp,
                                            unsigned char* pucLanguage,
                                            unsigned char* pucTemporary) {
  if (!pbstrPath || !pdateTimeStamp || !pucLanguage || !pucTemporary) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  if (ulFileId >= m_SourceFiles.size()) return PARSER_E_BAD_ID;
  const mirl::SourceFileRecord& rec = m_SourceFiles[ulFileId];
  try {
    std::string path = m_FileMapper.MapPath(rec.Path);
    ReplaceBstr(pbstrPath, path);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *pdateTimeStamp = rec.TimeStamp;
  *pucLanguage = rec.Language;
  *pucTemporary = rec.Temporary;
  return S_OK;
}
