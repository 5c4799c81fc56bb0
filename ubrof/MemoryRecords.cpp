// t_org and t_abs_var fill the memory images; the memory methods read them.
#include <cstring>

#include "../component/CMirlParserUbrof.h"
#include "Parser.h"

namespace mirl {

namespace {

enum class Placement { Code, Data, Eeprom, Skipped };

// Where a segment type's bytes go. Segment type 3 is eeprom only for
// compilers from version 2.0 on; older ones used it for code.
Placement PlacementOf(uint32_t segmentType, double compilerVersion) {
  if (segmentType == 2 || segmentType == 7) return Placement::Data;
  if (segmentType == 4) return Placement::Skipped;
  if (segmentType == 3 && compilerVersion >= 2.0) return Placement::Eeprom;
  return Placement::Code;
}

}  // namespace

int CParser::t_org() {
  m_ulSegmentType = uint32_t(ReadByte());
  uint32_t address = ReadLong();
  switch (PlacementOf(m_ulSegmentType, m_dCompilerVersion)) {
    case Placement::Code:
      m_ulCodeAddress = address;
      break;
    case Placement::Data:
      m_ulDataAddress = address;
      break;
    case Placement::Eeprom:
      m_ulEepromAddress = address;
      break;
    case Placement::Skipped:
      break;
  }
  return 0;
}

int CParser::t_abs_var() {
  uint32_t n = uint32_t(ReadByte());
  DMemory* pMemory = nullptr;
  uint32_t* pCounter = nullptr;
  switch (PlacementOf(m_ulSegmentType, m_dCompilerVersion)) {
    case Placement::Skipped:
      SkipBytes(n);
      return 0;
    case Placement::Data:
      pMemory = m_pDataMemory;
      pCounter = &m_ulDataAddress;
      break;
    case Placement::Eeprom:
      pMemory = m_pEepromMemory;
      pCounter = &m_ulEepromAddress;
      break;
    case Placement::Code:
      pMemory = m_pCodeMemory;
      pCounter = &m_ulCodeAddress;
      break;
  }
  // Room first: an address the image cannot hold ends the parse before the
  // statement and scope tables take in code that is not there.
  if (!pMemory->Reserve(*pCounter, n)) throw kErrOutOfMemory;
  if (pMemory == m_pCodeMemory && m_ulPendingStatements != 0) {
    // The first code after a statement is the statement's code.
    if (!m_pStatements->empty()) m_pStatements->back().Length = uint16_t(n);
    m_ulPendingStatements = 0;
    // An empty record is no code: the scope keeps its range (a scope
    // without code keeps the empty range).
    if (n != 0) m_pScopes->WidenScope(m_ulCodeAddress, m_ulCodeAddress + n);
  }
  // All or nothing: a block cut short by the end of the file stores none of
  // its bytes, also where it crosses into the next chunk of the image.
  RequireBytes(n);
  pMemory->StorePieces(*pCounter, n,
                       [this](uint8_t* pDest, uint32_t len) { ReadBlock(pDest, len); });
  *pCounter += n;
  return 0;
}

}  // namespace mirl

// ---------------------------------------------------------------------------
// Memory methods
// ---------------------------------------------------------------------------
const mirl::DMemory* CMirlParserUbrof::Image(uint8_t memType) const {
  switch (memType) {
    case 1:
      return &m_CodeMemory;
    case 2:
      return &m_DataMemory;
    case 4:
      return &m_EepromMemory;
    default:
      return nullptr;
  }
}

HRESULT CMirlParserUbrof::GetMemoryInfo(unsigned char ucMemoryType, ULONG* pulLowerBoundary,
                                        ULONG* pulUpperBoundary, ULONG* pulBlocks) {
  if (!pulLowerBoundary || !pulUpperBoundary || !pulBlocks) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  // Type 0x40 is program memory counted in 16-bit words.
  const mirl::DMemory* image = Image(ucMemoryType == 0x40 ? 1 : ucMemoryType);
  if (!image) return PARSER_E_BAD_MEMORY_TYPE;
  unsigned shift = ucMemoryType == 0x40 ? 1 : 0;
  *pulLowerBoundary = image->Lowest() >> shift;
  *pulUpperBoundary = image->Highest() >> shift;
  *pulBlocks = 0;
  return S_OK;
}

bool CMirlParserUbrof::ReadImage(uint8_t memType, uint32_t address, uint32_t count,
                                 uint8_t* pDest) const {
  if (const mirl::DMemory* image = Image(memType)) {
    image->Read(address, count, pDest);
    return true;
  }
  if (memType != 0x40) return false;
  // Where statements begin, by word address; a later statement at the same
  // word wins.
  std::memset(pDest, 0, count);
  uint64_t end = uint64_t(address) + count;
  for (const mirl::StatementRecord& st : m_Statements) {
    uint32_t word = st.Address >> 1;
    if (word >= address && word < end) pDest[word - address] = st.StatementType;
  }
  return true;
}

HRESULT CMirlParserUbrof::ReadMemory(unsigned char ucMemoryType, ULONG ulStartAddress,
                                     ULONG ulCount, unsigned char* pucReceiveBuffer) {
  if (!pucReceiveBuffer) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  return ReadImage(ucMemoryType, ulStartAddress, ulCount, pucReceiveBuffer)
             ? S_OK
             : PARSER_E_BAD_MEMORY_TYPE;
}

HRESULT CMirlParserUbrof::ReadMemSA(unsigned char ucMemoryType, ULONG ulStartAddress, ULONG ulCount,
                                    SAFEARRAY** pSafeArray) {
  if (!pSafeArray) return E_POINTER;
  SAFEARRAYBOUND bound;
  bound.cElements = ulCount;
  bound.lLbound = 0;
  SAFEARRAY* psa = SafeArrayCreate(VT_UI1, 1, &bound);
  if (!psa) return E_FAIL;
  void* pvData = nullptr;
  if (FAILED(SafeArrayAccessData(psa, &pvData))) {
    SafeArrayDestroy(psa);
    return E_FAIL;
  }
  // An empty array may have no data at all; ReadMemory still wants a buffer.
  unsigned char none = 0;
  HRESULT hr = ReadMemory(ucMemoryType, ulStartAddress, ulCount,
                          pvData ? static_cast<unsigned char*>(pvData) : &none);
  SafeArrayUnaccessData(psa);
  // The array goes to the caller also when the read failed (its bytes are
  // then zero).
  *pSafeArray = psa;
  return hr;
}
