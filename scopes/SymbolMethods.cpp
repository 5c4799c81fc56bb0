// Symbol methods of IMirlParser and IMirlParserMem. Not built yet.
#include "../component/CMirlParserUbrof.h"

HRESULT CMirlParserUbrof::LookupLabel(ULONG, BSTR*) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::EnumSymbolCategories(ULONG, BSTR*) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::EnumSymbols(ULONG, ULONG, ULONG*) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::LookupSymbolName(BSTR*, ULONG, ULONG, ULONG*, ULONG*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::GetSymbolInfo(ULONG, BSTR*, ULONG*, ULONG*) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::GetSymbolLocation(ULONG, ULONG, unsigned char*, ULONG*,
                                            unsigned char*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::GetProgramExit(ULONG*) { return E_NOTIMPL; }
