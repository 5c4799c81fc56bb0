// Diagnostics of the UBROF parser for tools (ubrofdump), beside the
// automation interfaces of MirlParserUbrof.h.
//
// The interfaces answer a debugger's questions; a dump tool also wants to
// say why a parse failed and to list what the interfaces can only be asked
// about one item at a time (module records, the owner scope of a symbol,
// statement lengths and lines, labels, written memory runs). These plain C
// functions read the component's tables directly. They never change what an
// interface method returns and never change the tables.
//
// Every function takes the parser object as any of its interface pointers.
// It returns S_OK, E_POINTER for a null argument, E_NOINTERFACE when the
// object is not a MirlParserUbrof, PARSER_E_BAD_ID for an index out of range
// and PARSER_E_BAD_MEMORY_TYPE for a memory type other than 1, 2 or 4. They
// answer whether or not a file was parsed (after a failed parse they show
// what the parse had read). Text pointers point into the parser's tables or
// to fixed texts; they stay valid until the parser is released or parses
// again.
#ifndef MIRLPARSERUBROFDIAG_H
#define MIRLPARSERUBROFDIAG_H

#include <stdint.h>

// Hosts include the public header; the component itself has the same
// declarations from its platform layer already.
#ifndef PARSER_E_NOT_PARSED
#include "MirlParserUbrof.h"
#endif

// What ended the last ParseObjectFile.
struct MirlDiagParse {
  LONG failed;            // nonzero when the last parse failed
  const char* message;    // the reader's message, or null (file not opened)
  int64_t byteOffset;     // file offset at which reading stopped, -1 unknown
  int64_t recordOffset;   // offset of the failing record's tag byte, -1 unknown
  LONG tag;               // that record's tag code, -1 when no tag was read
  const char* tagName;    // the tag's name ("t_src_stat"), null when unknown
  ULONG rejectedVersion;  // UBROF version of a file refused as too new, else 0
};

struct MirlDiagFile {
  BYTE ubrofVersion, ubrofMinor, ubrofRevision;
  DATE timeOfBuild;        // 0.0 when the file gave none
  double compilerVersion;  // highest tool version number of the modules
};

struct MirlDiagCounts {
  ULONG modules, scopes, symbols, locationRanges, labels, macros, segmentGroups;
  ULONG sourceFiles, statements, statementRuns;
  ULONG types, definedTypes;  // type ids, and those whose kind is not 0
  ULONG memoryAttributes, names;
};

struct MirlDiagModule {
  const char* name;
  const char* toolVersion;  // text of t_aux_1, null when the module has none
  DATE created;             // 0.0 when the stored date is not a date
  ULONG scopeId;            // the module's scope, 0xFFFFFFFF if none
  USHORT aux, aux1;
  BYTE debug;
  BYTE header[3];
};

struct MirlDiagScope {
  ULONG kind;         // 1 function, 2 module, 3 block
  ULONG parent;       // 0xFFFFFFFF at top level
  ULONG moduleIndex;  // module scopes only, else 0xFFFFFFFF
  ULONG low, high;    // code range [low, high); 0xFFFFFFFF, 0 without code
  ULONG symbolCount, childCount, statementRuns;
  BYTE hidden;
};

struct MirlDiagSymbol {
  ULONG value;
  ULONG nameIndex;
  ULONG rangeCount;
  ULONG scopeId;       // the scope the symbol is attached to, or 0xFFFFFFFF
  ULONG segmentGroup;  // the segment group it is attached to, or 0xFFFFFFFF
  USHORT memoryAttribute;
  USHORT typeId;
  BYTE cls;  // location class
};

struct MirlDiagRange {
  ULONG start;  // program address from which this location holds
  ULONG value;
  USHORT memoryAttribute;
  BYTE cls;
};

// One statement, lines and columns 0-based as at the interface.
struct MirlDiagStatement {
  ULONG address;
  ULONG length;  // code bytes; 0 when no code followed the statement
  ULONG line, lineEnd;
  ULONG column, columnEnd;
  ULONG fileId;  // 0xFFFFFFFF when no file was current
  ULONG run;
  BYTE type;  // statement-type flags
};

struct MirlDiagMemoryAttribute {
  const char* name;
  ULONG flags;
  BYTE pointerSize;
  BYTE memType;
};

// Text and caption of the one message the component shows to a user (a file
// newer than UBROF8).
typedef void (*MirlDiagMessageSink)(const char* text, const char* caption);

STDAPI MirlDiagGetParseDiagnostic(IUnknown* parser, MirlDiagParse* out);
STDAPI MirlDiagGetFileInfo(IUnknown* parser, MirlDiagFile* out);
STDAPI MirlDiagGetCounts(IUnknown* parser, MirlDiagCounts* out);
STDAPI MirlDiagGetModule(IUnknown* parser, ULONG index, MirlDiagModule* out);
STDAPI MirlDiagGetScope(IUnknown* parser, ULONG scopeId, MirlDiagScope* out);
// The scopes at top level (hidden modules included), in creation order.
// Writes at most capacity ids and the number that exist to *count.
STDAPI MirlDiagGetRootScopes(IUnknown* parser, ULONG* ids, ULONG capacity, ULONG* count);
// Writes at most capacity records, in symbol-id order, and the number that
// exist to *count.
STDAPI MirlDiagGetSymbols(IUnknown* parser, MirlDiagSymbol* out, ULONG capacity, ULONG* count);
STDAPI MirlDiagGetSymbolRange(IUnknown* parser, ULONG symbolId, ULONG index, MirlDiagRange* out);
// Statements in statement-id order (as EnumHLStatements numbers them).
STDAPI MirlDiagGetStatements(IUnknown* parser, MirlDiagStatement* out, ULONG capacity,
                             ULONG* count);
// Addresses of the label index, ascending; LookupLabel gives the names.
STDAPI MirlDiagGetLabels(IUnknown* parser, ULONG* addresses, ULONG capacity, ULONG* count);
STDAPI MirlDiagGetTypeKind(IUnknown* parser, ULONG typeId, ULONG* kind);
STDAPI MirlDiagGetMemoryAttribute(IUnknown* parser, ULONG index, MirlDiagMemoryAttribute* out);
// The source file's path as the object file stores it (GetSourceFileInfo
// reports it after the host's remapping).
STDAPI MirlDiagGetStoredSourcePath(IUnknown* parser, ULONG fileId, const char** path);
// The runs of addresses that t_abs_var records wrote into memory type 1
// (program), 2 (data) or 4 (eeprom): disjoint, ascending, inclusive.
STDAPI MirlDiagGetWrittenRanges(IUnknown* parser, BYTE memType, ULONG* firsts, ULONG* lasts,
                                ULONG capacity, ULONG* count);
// Receives the user message instead of the platform's own window or stderr
// line; null restores the platform's behaviour. Process-wide.
STDAPI_(void) MirlDiagSetMessageSink(MirlDiagMessageSink sink);

#endif  // MIRLPARSERUBROFDIAG_H
