// Scope methods of IMirlParser: walking the scope tree and finding scopes by
// program address or by a textual scope name.
#include <cctype>
#include <cstdint>
#include <string>

#include "../component/CMirlParserUbrof.h"

using mirl::kNone;
using mirl::ScopeRecord;

static_assert(sizeof(ULONG) == sizeof(uint32_t), "scope ids cross the interface as ULONG");

HRESULT CMirlParserUbrof::EnumSubScopes(ULONG ulScopeId, ULONG* pulCount, ULONG** ppulIdsOut) {
  if (!pulCount || !ppulIdsOut) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  if (ulScopeId != kNone && ulScopeId >= m_ScopeTable.Count()) return PARSER_E_BAD_ID;
  uint32_t count = 0;
  uint32_t* ids = nullptr;
  if (!m_ScopeTable.CollectChildScopes(ulScopeId, count, ids, false)) {
    CoTaskMemFree(ids);
    return E_OUTOFMEMORY;
  }
  *pulCount = count;
  *ppulIdsOut = reinterpret_cast<ULONG*>(ids);
  return S_OK;
}

HRESULT CMirlParserUbrof::GetScopeInfo(ULONG ulScopeId, BSTR* pbstrName, BSTR* pbstrFullName,
                                       ULONG* pulType, ULONG* pulStartAddress, ULONG* pulSize,
                                       ULONG* pulFirstStat) {
  if (!pbstrName || !pbstrFullName || !pulType || !pulStartAddress || !pulSize || !pulFirstStat)
    return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  const ScopeRecord* s = m_ScopeTable.Scope(ulScopeId);
  if (!s) return PARSER_E_BAD_ID;
  ReplaceBstr(pbstrName, m_NameTable.GetName(s->NameIndex));
  ReplaceBstr(pbstrFullName, std::string());
  *pulType = s->Kind;
  *pulStartAddress = s->LowAddress;
  *pulSize = s->HighAddress - s->LowAddress;  // modulo 2^32: 1 for a scope without code
  uint32_t first = kNone;
  if (!s->StatementRuns.empty() && s->StatementRuns[0] < m_StatementRuns.size())
    first = m_StatementRuns[s->StatementRuns[0]].FirstStatement;
  *pulFirstStat = first;
  return S_OK;
}

uint32_t CMirlParserUbrof::FindScopeAt(uint32_t address, uint32_t kind) const {
  uint32_t scope = m_ScopeTable.FindScopeByAddress(address);
  if (kind != 0) {
    // Outward to the first scope of the kind asked for. Parents have lower
    // ids than their children, so the walk ends.
    while (scope != kNone && scope < m_ScopeTable.Count() &&
           m_ScopeTable.Scopes[scope].Kind != kind)
      scope = m_ScopeTable.Scopes[scope].Parent;
  }
  return scope < m_ScopeTable.Count() ? scope : kNone;
}

HRESULT CMirlParserUbrof::GetScopeFromProgMemAddress(ULONG ulAddress, unsigned char ucType,
                                                     ULONG* pulScopeId) {
  if (!pulScopeId) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  uint32_t scope = FindScopeAt(ulAddress, ucType);
  if (scope == kNone) return E_FAIL;
  *pulScopeId = scope;
  return S_OK;
}

// ---------------------------------------------------------------------------
// Scope names. The host writes a scope as
//     { "file" , line }     { "file" , function }     { "file" }
// The text is matched against three formats in that order, with the rules
// of C's formatted scanning, since that is how hosts compose and read such
// names: a blank in a format matches any
// run of white space (also none); "%q" takes one or more characters up to
// the next double quote, "%n" one or more up to the next closing brace
// (trailing blanks included), "%i" a signed integer in decimal, hexadecimal
// (0x) or octal (leading 0). A format is taken when all its conversions
// succeed; what follows the last conversion is not checked.
// The texts are held in buffers of 999 characters. A longer path or name
// fails its conversion instead of being cut: cut, it would name some other
// file or scope.
// ---------------------------------------------------------------------------
namespace {

constexpr size_t kMaxScopeText = 999;

struct ScopeNameParts {
  std::string File;
  std::string Name;
  int32_t Line = 0;
};

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// Reads an integer as "%i" does. A "0x" without hex digits after it is read
// as the number 0 followed by the text "x...". Values beyond the range of a
// 32-bit line are held at its limits: no statement has such a line.
bool ScanInteger(const std::string& in, size_t& pos, int32_t& out) {
  size_t p = pos;
  bool negative = false;
  if (p < in.size() && (in[p] == '+' || in[p] == '-')) negative = in[p++] == '-';
  int base = 10;
  if (p < in.size() && in[p] == '0') {
    base = 8;
    if (p + 2 < in.size() && (in[p + 1] == 'x' || in[p + 1] == 'X') && DigitValue(in[p + 2]) < 16) {
      base = 16;
      p += 2;
    }
  }
  size_t digits = p;
  int64_t value = 0;
  for (; p < in.size() && DigitValue(in[p]) < base; ++p) {
    if (value <= INT64_C(0xFFFFFFFF)) value = value * base + DigitValue(in[p]);
  }
  if (p == digits) return false;
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  out = int32_t(value);
  pos = p;
  return true;
}

// Runs one format over the text and returns the number of conversions that
// succeeded before the first mismatch or the end of the text.
int ScanScopeName(const std::string& in, const char* format, ScopeNameParts& parts) {
  size_t pos = 0;
  int conversions = 0;
  for (const char* f = format; *f; ++f) {
    if (*f == ' ') {
      while (pos < in.size() && IsBlank(in[pos])) ++pos;
      continue;
    }
    if (*f != '%') {
      if (pos >= in.size() || in[pos] != *f) return conversions;
      ++pos;
      continue;
    }
    ++f;
    if (*f == 'i') {
      while (pos < in.size() && IsBlank(in[pos])) ++pos;
      if (!ScanInteger(in, pos, parts.Line)) return conversions;
    } else {
      char stop = *f == 'q' ? '"' : '}';
      size_t start = pos;
      while (pos < in.size() && in[pos] != stop) ++pos;
      if (pos == start || pos - start > kMaxScopeText) return conversions;
      (*f == 'q' ? parts.File : parts.Name) = in.substr(start, pos - start);
    }
    ++conversions;
  }
  return conversions;
}

}  // namespace

uint32_t CMirlParserUbrof::FindScopeNamed(const std::string& text) const {
  ScopeNameParts parts;
  int form;
  if (ScanScopeName(text, " { \"%q\" , %i } ", parts) == 2)
    form = 1;
  else if (ScanScopeName(text, " { \"%q\" , %n } ", parts) == 2)
    form = 2;
  else if (ScanScopeName(text, " { \"%q\" } ", parts) == 1)
    form = 3;
  else
    return kNone;

  // The module that lists the file; the stored paths are compared without
  // any host path mapping.
  auto file = m_FileNames.find(mirl::LowerAscii(parts.File));
  if (file == m_FileNames.end()) return kNone;
  uint32_t module = m_ScopeTable.FindModuleByFile(file->second);
  if (module == kNone) return kNone;
  if (form == 1) {
    uint32_t s = m_ScopeTable.FindScopeByLine(module, uint32_t(parts.Line));
    return s != kNone ? s : module;
  }
  if (form == 2) return m_ScopeTable.FindChildScope(module, parts.Name);
  return module;
}

HRESULT CMirlParserUbrof::GetScopeFromName(BSTR* pbstrName, ULONG* ulScopeId) {
  if (!pbstrName || !*pbstrName || !ulScopeId) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  std::string text = platform::BstrToAnsi(*pbstrName);
  SysFreeString(*pbstrName);
  *pbstrName = nullptr;
  uint32_t answer = FindScopeNamed(text);
  if (answer == kNone) return E_FAIL;
  *ulScopeId = answer;
  return S_OK;
}
