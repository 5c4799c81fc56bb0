// Scope methods of IMirlParser. Not built yet.
#include "../component/CMirlParserUbrof.h"

HRESULT CMirlParserUbrof::EnumSubScopes(ULONG, ULONG*, ULONG**) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::GetScopeInfo(ULONG, BSTR*, BSTR*, ULONG*, ULONG*, ULONG*, ULONG*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::GetScopeFromProgMemAddress(ULONG, unsigned char, ULONG*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::GetScopeFromName(BSTR*, ULONG*) { return E_NOTIMPL; }
