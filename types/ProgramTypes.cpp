// The read API's view of the type table: types with their names and
// attributes, members, enumerators, parameters and memory attributes.
#include "../component/CMirlParserUbrof.h"
#include "../component/MirlProgram.h"

namespace mirl {
namespace api {

bool Program::GetType(uint32_t id, Type* out) const {
  const TypeTable& t = m_p->m_TypeTable;
  if (id >= t.TypeCount()) return false;
  const TypeRecord& r = t.Types[id];
  out->id = id;
  out->kind = r.Kind;
  uint32_t words[5] = {r.Word1, r.Word2, r.Word3, r.Word4, r.Word5};
  for (int k = 0; k < 5; ++k) out->words[k] = words[k];
  out->name = t.FormatTypeName(id);
  out->spec = out->size = out->elements = out->ptrSize = 0;
  out->memType = 0;
  t.GetTypeAttributes(id, &out->spec, &out->size, &out->elements, &out->memType, &out->ptrSize);
  return true;
}

std::vector<Member> Program::Members(uint32_t typeId) const {
  std::vector<Member> out;
  uint32_t first = 0, count = 0;
  if (typeId >= m_p->m_TypeTable.TypeCount() || FAILED(m_p->FindMembers(typeId, &first, &count)))
    return out;
  for (uint32_t i = 0; i < count; ++i) {
    const MemberRecord& m = m_p->m_TypeTable.Members[first + i];
    out.push_back({m_p->m_NameTable.GetName(m.NameIndex), m.TypeId, m.Offset, m.Extra});
  }
  return out;
}

std::vector<Enumerator> Program::Enumerators(uint32_t typeId) const {
  std::vector<Enumerator> out;
  const TypeTable& t = m_p->m_TypeTable;
  if (typeId >= t.TypeCount()) return out;
  const TypeRecord& r = t.Types[typeId];
  if (r.Kind != kKindEnum && r.Kind != kKindEnumIndexed) return out;
  // Word4 is the first enumerator, Word3 the count the file gave; a file cut
  // short has fewer in the table.
  for (uint64_t i = r.Word4; i < uint64_t(r.Word4) + r.Word3 && i < t.Enumerators.size(); ++i) {
    const EnumeratorRecord& e = t.Enumerators[size_t(i)];
    out.push_back({m_p->m_NameTable.GetName(e.NameIndex), e.Value});
  }
  return out;
}

std::vector<uint32_t> Program::Parameters(uint32_t typeId) const {
  std::vector<uint32_t> out;
  const TypeTable& t = m_p->m_TypeTable;
  if (typeId >= t.TypeCount()) return out;
  const TypeRecord& r = t.Types[typeId];
  if (r.Kind != kKindFunction && r.Kind != kKindFunctionEx) return out;
  // Word5 is the first parameter, Word4 the count.
  for (uint64_t i = r.Word5; i < uint64_t(r.Word5) + r.Word4 && i < t.Parameters.size(); ++i)
    out.push_back(t.Parameters[size_t(i)]);
  return out;
}

bool Program::ReferredType(uint32_t typeId, uint32_t* pType, uint32_t* pMemType) const {
  if (typeId >= m_p->m_TypeTable.TypeCount()) return false;
  return SUCCEEDED(m_p->FindReferredType(typeId, pType, pMemType));
}

std::vector<MemoryAttribute> Program::MemoryAttributes() const {
  std::vector<MemoryAttribute> out;
  for (const MemoryAttributeRecord& a : m_p->m_TypeTable.MemoryAttributes)
    out.push_back({a.Name, a.AttributeFlags, a.PointerSize, a.MemType});
  return out;
}

}  // namespace api
}  // namespace mirl
