// The read API's view of the type table: types with their names and
// attributes, members, enumerators, parameters and memory attributes.
#include <algorithm>
#include <initializer_list>

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

namespace {

// The part of a shared array that type typeId lists when its kind is one of
// kinds: *pFirst and *pEnd, cut to the array (a file cut short holds fewer
// entries than the type announced). Words are 1-based as in the record.
bool TypeSlice(const TypeTable& t, uint32_t typeId, std::initializer_list<uint32_t> kinds,
               int firstWord, int countWord, size_t size, size_t* pFirst, size_t* pEnd) {
  if (typeId >= t.TypeCount()) return false;
  const TypeRecord& r = t.Types[typeId];
  if (std::find(kinds.begin(), kinds.end(), r.Kind) == kinds.end()) return false;
  const uint32_t words[5] = {r.Word1, r.Word2, r.Word3, r.Word4, r.Word5};
  uint64_t first = words[firstWord - 1], end = first + words[countWord - 1];
  *pFirst = size_t(std::min<uint64_t>(first, size));
  *pEnd = size_t(std::min<uint64_t>(end, size));
  return true;
}

}  // namespace

std::vector<Enumerator> Program::Enumerators(uint32_t typeId) const {
  std::vector<Enumerator> out;
  const TypeTable& t = m_p->m_TypeTable;
  size_t i = 0, end = 0;
  // Enumerators from Word4 on, Word3 of them.
  if (!TypeSlice(t, typeId, {kKindEnum, kKindEnumIndexed}, 4, 3, t.Enumerators.size(), &i, &end))
    return out;
  for (; i < end; ++i)
    out.push_back({m_p->m_NameTable.GetName(t.Enumerators[i].NameIndex), t.Enumerators[i].Value});
  return out;
}

std::vector<uint32_t> Program::Parameters(uint32_t typeId) const {
  const TypeTable& t = m_p->m_TypeTable;
  size_t first = 0, end = 0;
  // Parameters from Word5 on, Word4 of them.
  if (!TypeSlice(t, typeId, {kKindFunction, kKindFunctionEx}, 5, 4, t.Parameters.size(), &first,
                 &end))
    return {};
  return std::vector<uint32_t>(t.Parameters.begin() + first, t.Parameters.begin() + end);
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
