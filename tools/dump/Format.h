// Small formatting and parsing helpers of ubrofdump: numbers, addresses,
// ranges and automation dates as people read and type them.
#ifndef UBROFDUMP_FORMAT_H
#define UBROFDUMP_FORMAT_H

#include <cstdint>
#include <string>

namespace dump {

// printf into a std::string.
std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "0x0104": hexadecimal with at least four digits.
std::string Hex(uint32_t value, int minDigits = 4);
// A path as people compare Windows paths: either separator (made '/'), any
// letter case (made lower case).
std::string FoldedPath(std::string path);

// Addresses and lengths are hexadecimal, with or without "0x", as addr2line
// reads them. False for empty text, other characters or more than 32 bits.
bool ParseHex(const std::string& text, uint32_t* pValue);
// A decimal number of at most 32 bits.
bool ParseDecimal(const std::string& text, uint32_t* pValue);

// START:END (END excluded) or START+LEN, both hexadecimal. The range must
// not be empty and must end at 0x100000000 at the latest. *pEnd is
// exclusive, hence 64 bits wide.
bool ParseRange(const std::string& text, uint32_t* pStart, uint64_t* pEnd, std::string* pError);

// "YYYY-MM-DD HH:MM:SS" for an automation date (days since 30 December
// 1899, time of day as the fraction; before that day the fraction counts
// away from zero). Empty for 0.0, which the parser uses for "no date", and
// for values outside the years 1 to 9999.
std::string DateTimeText(double date);
// "YYYY-MM-DD", or empty as above.
std::string DateText(double date);

// Names of the codes that the interfaces report.
const char* MemoryName(unsigned memType);  // 1 "program", 2 "data", 4 "eeprom", ...
const char* ScopeKindName(unsigned kind);  // 1 "function", 2 "module", 3 "block"
const char* SpecName(unsigned spec);       // GetTypeInfo's class of a type
// A symbol's location class as this reader treats it: "absolute" (1, a
// fixed address), "relocatable" (2), "static" (3, a function's static),
// "extern" (4, a reference to another module's symbol), "frame" (7),
// "register" (8), "constant" (9, 22), "other" (23), "none" (0); "class N"
// for the rest.
std::string SymbolClassName(unsigned cls);
// A type record's kind code as a word ("struct", "pointer", ...; "kind N"
// for a code we have no word for).
std::string TypeKindName(unsigned kind);
// A statement's type flags: "statement", "function entry" when bit 0x02 is
// set (every such statement of the real samples sits at a function's entry
// symbol), and any further bit as "+0x04".
std::string StatementTypeName(unsigned type);

}  // namespace dump

#endif
