// Memory images, t_org/t_abs_var and the memory methods. Not built yet.
#include "DMemory.h"

#include <cstring>

#include "../component/CMirlParserUbrof.h"
#include "Parser.h"

namespace mirl {
DMemory::DMemory(uint32_t initialCapacity, uint8_t fill)
    : m_ulCapacity(initialCapacity < 1024 ? 1024 : initialCapacity),
      m_ulLowest(0xFFFFFFFFu),
      m_ulHighest(0),
      m_ucFill(fill) {
  m_pBuffer.reset(new uint8_t[m_ulCapacity]);
  std::memset(m_pBuffer.get(), fill, m_ulCapacity);
}
DMemory::~DMemory() = default;
uint8_t* DMemory::GetWriteBuffer(uint32_t, uint32_t) { return nullptr; }
void DMemory::Read(uint32_t, uint32_t, uint8_t*) const {}
bool DMemory::Grow() { return false; }

int CParser::t_org() { return 1; }
int CParser::t_abs_var() { return 1; }
}  // namespace mirl

HRESULT CMirlParserUbrof::GetMemoryInfo(unsigned char, ULONG*, ULONG*, ULONG*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::ReadMemory(unsigned char, ULONG, ULONG, unsigned char*) {
  return E_NOTIMPL;
}
HRESULT CMirlParserUbrof::ReadMemSA(unsigned char, ULONG, ULONG, SAFEARRAY**) {
  return E_NOTIMPL;
}
