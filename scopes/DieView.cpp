// IMirlParser3: the debug-information-entry view. Not built yet.
#include "../component/CMirlParserUbrof.h"

HRESULT CMirlParserUbrof::GetDie(LONG, LONG, LONG*) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::GetDies(LONG, LONG, VARIANT*) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::LookupDie(LONG, BSTR, LONG, LONG*) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::GetAttr(LONG, LONG, VARIANT*) { return E_NOTIMPL; }
HRESULT CMirlParserUbrof::GetTag(LONG, LONG*) { return E_NOTIMPL; }
