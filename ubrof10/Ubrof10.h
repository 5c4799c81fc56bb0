// What the UBROF 10 reader knows beyond the handlers it puts on CParser:
// the layouts are learned from real files, and docs/ubrof10.md gives the
// evidence for each.
#ifndef MIRL_UBROF10_H
#define MIRL_UBROF10_H

#include <cstdint>

namespace mirl {

// The t_type kinds whose UBROF 10 layout real files have shown us.
bool IsUbrof10TypeKind(uint32_t kind);

}  // namespace mirl

#endif
