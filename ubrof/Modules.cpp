#include "Modules.h"

#include "Parser.h"

namespace mirl {

static long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  long long era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = unsigned(y - era * 400);
  unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + (long long)doe - 719468;
}

bool DateFromFields(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                    unsigned second, DATE* pDate) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || year > 9999) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  unsigned length = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day < 1 || day > length || hour > 23 || minute > 59 || second > 59) return false;
  long long days = DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
  double frac = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before the epoch the time of day still counts away from zero.
  *pDate = days >= 0 ? double(days) + frac : double(days) - frac;
  return true;
}

// t_beg_lib / t_beg_pgm: a module begins and opens its module scope.
int CParser::t_beg_lib() {
  ModuleRecord rec;
  for (uint8_t& b : rec.m_aucHeader) b = uint8_t(ReadByte());
  unsigned day = unsigned(ReadByte());
  unsigned month = unsigned(ReadByte());
  unsigned year = unsigned(ReadByte()) + 1900;
  DATE created = 0.0;
  if (DateFromFields(year, month, day, 0, 0, 0, &created)) rec.m_dateCreated = created;
  StringPtr name = ReadByteString();
  rec.m_pszName = name.get();
  m_pModules->push_back(std::move(rec));

  ScopeRecord& scope = m_pScopes->PushScope();
  scope.Kind = kScopeModule;
  scope.ModuleIndex = uint32_t(m_pModules->size() - 1);
  scope.Hidden = m_pModules->back().m_pszName.c_str()[0] == '?' ? 1 : 0;
  scope.NameIndex = kNone;
  scope.LowAddress = 0xFFFFFFFFu;
  scope.HighAddress = 0;
  m_ulModuleState = 2;
  // A statement still pending from the previous module keeps length 0.
  m_ulPendingStatements = 0;
  // UBROF 10: positions name the files of this module's own include tree.
  m_ModuleText.clear();
  m_bLinePiece = false;
  return 0;
}

int CParser::t_end() {
  AttachPendingRuns10();  // UBROF 10 runs no function took; none in UBROF 8
  m_pScopes->PopScope();
  m_ulModuleState = 0;
  SkipBytes(2);
  return 0;
}

// An absolute module end leaves the module scope open: modules read after
// it nest inside it.
int CParser::t_end_abs() {
  m_ulModuleState = 0;
  SkipBytes(8);
  return 0;
}

}  // namespace mirl
