// Function and block records, and the pieces of the symbol records that they
// share with the symbol handlers.
#include <string>

#include "../ubrof/Parser.h"

namespace mirl {

void CParser::AttachSymbolId(uint32_t id) {
  if (m_ulModuleState == 2) {
    m_pScopes->AddSymbolId(id);
  } else if (m_ulModuleState == 1) {
    if (!m_pSegmentGroups->empty()) m_pSegmentGroups->back().m_SymbolIds.push_back(id);
  }
}

void CParser::AttachMacroId(uint32_t id) {
  if (m_ulModuleState == 2) {
    m_pScopes->AddMacroId(id);
  } else if (m_ulModuleState == 1) {
    if (!m_pSegmentGroups->empty()) m_pSegmentGroups->back().m_MacroIds.push_back(id);
  }
}

// The first symbol defined at an address names it as a label; data memory
// (attribute 2) never holds labels.
void CParser::AddLabel(uint8_t cls, uint16_t memAttr, uint32_t value, uint32_t nameIndex) {
  if (cls >= 1 && cls <= 4 && memAttr != 2) m_pSymbolIndex->emplace(value, nameIndex);
}

void CParser::ReadRanges(uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    SkipBytes(2);  // range tag, not interpreted
    uint32_t start = ReadLong();
    uint8_t cls = uint8_t(ReadByte());
    uint16_t memAttr = uint16_t(ReadWord());
    uint32_t value = ReadLong();
    m_pSymbols->AddRange(start, cls, memAttr, value);
  }
}

// Local symbols of t_func_begin1 and t_block_begin1 belong to the new scope
// whatever the module state, and are never labels.
void CParser::ReadLocalSymbols(uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t id = m_pSymbols->Count();
    m_pScopes->AddSymbolId(id);
    SymbolFields f = ReadSymbolFields(id);
    m_pSymbols->AddSymbol(f.Class, f.MemoryAttribute, f.Value, f.NameIndex, f.TypeId);
    ReadRanges(ReadWord());
  }
}

void CParser::DropPendingStatement() {
  while (m_ulPendingStatements != 0) {
    if (!m_pStatements->empty()) m_pStatements->pop_back();
    --m_ulPendingStatements;
    if (!m_pStatementRuns->empty() && m_pStatementRuns->back().Count > 0)
      --m_pStatementRuns->back().Count;
  }
}

int CParser::t_func_begin1() {
  ScopeRecord& scope = m_pScopes->PushScope();
  scope.Kind = kScopeFunction;
  scope.ModuleIndex = kNone;
  scope.Hidden = 0;
  StringPtr name = ReadByteString();
  uint32_t nameIndex = m_pNameTable->AddName(kNameScope, kSubFunction, name.get(), kNone, kNone);
  m_pScopes->Scopes.back().NameIndex = nameIndex;
  SkipBytes(8);
  ReadLocalSymbols(ReadWord());
  m_bNewRun = 1;
  m_ulModuleState = 2;
  return 0;
}

int CParser::t_block_begin1() {
  ScopeRecord& scope = m_pScopes->PushScope();
  scope.Kind = kScopeBlock;
  scope.ModuleIndex = kNone;
  scope.Hidden = 0;
  uint32_t n = m_pScopes->Count();
  std::string text = "block" + std::to_string(n);
  scope.NameIndex = m_pNameTable->AddName(kNameScope, kSubBlock, text.c_str(), n, kNone);
  ReadLocalSymbols(ReadWord());
  m_bNewRun = 1;
  m_ulModuleState = 2;
  return 0;
}

int CParser::t_block_begin3() {
  m_pScopes->PushScope();
  uint32_t nameIndex = ReadLong();
  ScopeRecord& scope = m_pScopes->Scopes.back();
  scope.ModuleIndex = kNone;
  scope.Hidden = 0;
  scope.NameIndex = nameIndex;
  // Without a name there is nothing to tell a function from a block; such a
  // scope is taken as a block.
  scope.Kind = kScopeBlock;
  if (nameIndex != kNone) {
    const NameEntry* e = m_pNameTable->Entry(nameIndex);
    scope.Kind = e && e->SubKind == kSubBlock ? kScopeBlock : kScopeFunction;
  }
  m_bNewRun = 1;
  m_ulModuleState = 2;
  return 0;
}

int CParser::t_block_end() {
  m_pScopes->PopScope();
  DropPendingStatement();
  m_ulModuleState = 0;
  m_bNewRun = 1;
  return 0;
}

}  // namespace mirl
