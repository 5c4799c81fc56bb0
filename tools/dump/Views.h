// The views of ubrofdump. Each view gathers its facts from the session into
// a JSON value (field names are stable: scripts rely on them), and the text
// output is rendered from that same value, so both always agree.
#ifndef UBROFDUMP_VIEWS_H
#define UBROFDUMP_VIEWS_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "Session.h"

namespace dump {

using Json = nlohmann::ordered_json;

Json SummaryJson(Session& s);
Json ModulesJson(Session& s);
Json ScopesJson(Session& s);
Json SymbolsJson(Session& s);
Json LabelsJson(Session& s);
// nm: the symbols at addresses, by address or by name; globalsOnly keeps
// the file-level ones, definedOnly leaves out references to other modules.
Json NmJson(Session& s, bool byName, bool globalsOnly, bool definedOnly);
Json TypesJson(Session& s);
Json MemoryAttributesJson(Session& s);
Json SourcesJson(Session& s);
Json LinesJson(Session& s);
Json MemoryJson(Session& s);
// memType 1, 2 or 4; [start, end).
Json HexDumpJson(Session& s, unsigned memType, uint32_t start, uint64_t end);

// Lookups. "found" says whether each one succeeded.
// memType 1: source position, scopes and function; 2: the variable there.
Json AddressLookupJson(Session& s, uint32_t address, unsigned memType = 1);
Json LineLookupJson(Session& s, const std::string& file, uint32_t line);
Json SymbolLookupJson(Session& s, const std::string& name);

std::string SummaryText(const Json& j);
std::string ModulesText(const Json& j);
std::string ScopesText(const Json& j);
std::string SymbolsText(const Json& j);
std::string LabelsText(const Json& j);
std::string NmText(const Json& j);
std::string TypesText(const Json& types, const Json& attributes);
std::string SourcesText(const Json& j);
std::string LinesText(const Json& j);
std::string MemoryText(const Json& j);
std::string HexDumpText(const Json& j);
std::string AddressLookupText(const Json& j);
std::string LineLookupText(const Json& j);
std::string SymbolLookupText(const Json& j);

// Exports. False with a message when the file cannot be written.
// Intel HEX of the written runs of memory type 1 or 4.
bool ExportIntelHex(Session& s, unsigned memType, const std::string& path, Json* pReport,
                    std::string* pError);
// Program memory from its lowest to its highest written address, gaps as
// the image reads them (the fill value).
bool ExportBinary(Session& s, const std::string& path, Json* pReport, std::string* pError);

}  // namespace dump

#endif
