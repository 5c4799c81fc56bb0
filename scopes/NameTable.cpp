#include "NameTable.h"

#include "../ubrof/Parser.h"

namespace mirl {

uint32_t NameTable::AddName(uint32_t kind, uint32_t subKind, const char* pszText, uint32_t number,
                            uint32_t link) {
  NameEntry e;
  e.Kind = kind;
  e.SubKind = subKind;
  e.HasText = pszText != nullptr;
  if (pszText) e.Text = pszText;
  e.Number = number;
  e.Link = link;
  m_Entries.push_back(std::move(e));
  return uint32_t(m_Entries.size() - 1);
}

static std::string Cut(const std::string& s) {
  return s.size() > kMaxNameLength ? s.substr(0, kMaxNameLength) : s;
}

std::string NameTable::GetName(uint32_t index) const {
  // A chain of function-name entries without text is followed through their
  // links; a file can make that chain a cycle or as long as it has entries,
  // so the walk stops after kMaxNameLinks links.
  for (unsigned links = 0; links <= kMaxNameLinks; ++links) {
    if (index >= m_Entries.size()) return std::string();
    const NameEntry& e = m_Entries[index];
    if (e.Kind != kNameScope) return Cut(e.Text);
    if (e.SubKind == kSubFunction) {
      if (e.HasText) return Cut(e.Text);
      index = e.Link;
      continue;
    }
    if (e.SubKind == kSubBlock) {
      if (e.HasText) return Cut(e.Text);
      return "block" + std::to_string(e.Number);
    }
    return std::string();
  }
  return std::string();
}

// t_scoped_name: a name of the newer record forms, referred to later by its
// position in the table.
int CParser::t_scoped_name() {
  SkipBytes(4);
  int form = ReadByte();
  switch (form) {
    case 1: {
      uint32_t n = ReadLong();
      StringPtr text = ReadString(n);
      uint32_t link = ReadLong();
      m_pNameTable->AddName(kNamePlain, kSubNone, text.get(), 0, link);
      break;
    }
    case 2: {
      uint32_t link = ReadLong();
      uint32_t number = ReadWord();
      m_pNameTable->AddName(kNameScope, kSubFunction, nullptr, number, link);
      break;
    }
    case 3: {
      uint32_t link = ReadLong();
      uint32_t number = ReadLong();
      m_pNameTable->AddName(kNameScope, kSubBlock, nullptr, number, link);
      break;
    }
    default:
      // Unknown forms carry nothing more that we know how to read.
      break;
  }
  return 0;
}

}  // namespace mirl
