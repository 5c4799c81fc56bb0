// The read API's door: finding the component behind an interface pointer,
// and the message sink. The views of each table live beside the table
// (ubrof/ProgramFile.cpp, source/ProgramSource.cpp, scopes/ProgramScopes.cpp,
// types/ProgramTypes.cpp).
#include <stdexcept>

#include "../platform/Unicode.h"
#include "CMirlParserUbrof.h"
#include "MirlProgram.h"

namespace mirl {
namespace api {

Program::Program(IUnknown* parser) : m_p(nullptr) {
  if (!parser) throw std::invalid_argument("no parser object");
  IMirlParser* itf = nullptr;
  HRESULT hr = parser->QueryInterface(IID_IMirlParser, reinterpret_cast<void**>(&itf));
  if (FAILED(hr) || !itf) throw std::invalid_argument("not a MirlParserUbrof object");
  // Only this component answers for IMirlParser in this library. The caller
  // keeps its own reference for as long as it uses the view.
  m_p = static_cast<CMirlParserUbrof*>(itf);
  itf->Release();
}

bool ParseAnyVersion(IUnknown* parser, const std::string& path) {
  Program view(parser);  // checks the object
  CMirlParserUbrof* p = const_cast<CMirlParserUbrof*>(view.m_p);
  return SUCCEEDED(p->ParsePath(path.c_str(), true));
}

bool Program::Initialized() const {
  return (m_p->m_ulState & CMirlParserUbrof::kStateInitialized) != 0;
}

bool Program::Parsed() const { return m_p->IsParsed(); }

void SetMessageSink(void (*sink)(const char* text, const char* caption)) {
  platform::SetMessageBoxHook(sink);
}

std::string Utf8FromUtf16(const char16_t* p, std::size_t n) {
  return platform::Utf8FromUtf16(p, n);
}

std::u16string Utf16FromUtf8(const std::string& text) {
  return platform::Utf16FromUtf8(text.data(), text.size());
}

}  // namespace api
}  // namespace mirl
