// Source files, statements and path mapping. Not built yet.
#include "../component/CMirlParserUbrof.h"
#include "../ubrof/Parser.h"
#include "FileMapper.h"

namespace mirl {
uint32_t CParser::RegisterFile(SourceFileRecord&&) { return kNone; }

int CParser::t_file() { return 1; }
int CParser::t_src_stat() { return 1; }
int CParser::t_file_ref() { return 1; }
int CParser::t_new_file() { return 1; }
int CParser::t_source_range() { return 1; }
}  // namespace mirl

HRESULT CMirlParserUbrof::GetSourceFileInfo(ULONG, BSTR*, DATE*, unsigned char*, unsigned char*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::EnumHLStatements(ULONG, ULONG*, unsigned char*) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::GetProgMemAddressFromSource(BSTR*, ULONG, ULONG, ULONG*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::GetSourceFromProgMemAddress(ULONG, BSTR*, ULONG*, ULONG*, ULONG*, ULONG*,
                                                      ULONG*) {
  return E_NOTIMPL;
}
