#include "Run.h"

#include "ElfOut.h"

namespace dump {

int RunRequest(Session& s, const Request& r, Json* pDoc, std::string* pText,
               std::vector<std::string>* pErrors) {
  int status = 0;
  Json& doc = *pDoc;
  std::vector<std::string> sections;
  if (r.summary) {
    doc["summary"] = SummaryJson(s);
    sections.push_back(SummaryText(doc["summary"]));
  }
  if (r.modules) {
    doc["modules"] = ModulesJson(s);
    sections.push_back(ModulesText(doc["modules"]));
  }
  if (r.scopes) {
    doc["scopes"] = ScopesJson(s);
    sections.push_back(ScopesText(doc["scopes"]));
  }
  if (r.symbols) {
    doc["symbols"] = SymbolsJson(s);
    sections.push_back(SymbolsText(doc["symbols"]));
  }
  if (r.labels) {
    doc["labels"] = LabelsJson(s);
    sections.push_back(LabelsText(doc["labels"]));
  }
  if (r.nm) {
    doc["nm"] = NmJson(s, r.nmByName, r.nmGlobals, r.nmDefined);
    sections.push_back(NmText(doc["nm"]));
  }
  if (r.types) {
    doc["types"] = TypesJson(s);
    doc["memory_attributes"] = MemoryAttributesJson(s);
    sections.push_back(TypesText(doc["types"], doc["memory_attributes"]));
  }
  if (r.sources) {
    doc["sources"] = SourcesJson(s);
    sections.push_back(SourcesText(doc["sources"]));
  }
  if (r.lines) {
    doc["lines"] = LinesJson(s);
    sections.push_back(LinesText(doc["lines"]));
  }
  if (r.memory || r.range) {
    Json memory = r.memory ? MemoryJson(s) : Json::object();
    std::string text = r.memory ? MemoryText(memory) : std::string();
    if (r.range) {
      memory["dump"] = HexDumpJson(s, r.memType, r.rangeStart, r.rangeEnd);
      if (memory["dump"].contains("status")) status = 1;
      text += (text.empty() ? "" : "\n") + HexDumpText(memory["dump"]);
    }
    doc["memory"] = memory;
    sections.push_back(text);
  }
  if (!r.addresses.empty() || !r.lineQueries.empty() || !r.symbolNames.empty()) {
    Json lookups;
    std::string text;
    if (!r.addresses.empty()) {
      // An address without an answer prints ??:0 but is no failure, as
      // with addr2line: scripts feed it every address they have.
      lookups["addresses"] = Json::array();
      for (uint32_t a : r.addresses) {
        Json j = AddressLookupJson(s, a, r.memType);
        text += AddressLookupText(j);
        lookups["addresses"].push_back(j);
      }
    }
    if (!r.lineQueries.empty()) {
      lookups["lines"] = Json::array();
      for (const auto& q : r.lineQueries) {
        Json j = LineLookupJson(s, q.first, q.second);
        if (!j["found"].get<bool>()) status = 1;
        text += LineLookupText(j);
        lookups["lines"].push_back(j);
      }
    }
    if (!r.symbolNames.empty()) {
      lookups["symbols"] = Json::array();
      for (const std::string& name : r.symbolNames) {
        Json j = SymbolLookupJson(s, name);
        if (!j["found"].get<bool>()) status = 1;
        text += SymbolLookupText(j);
        lookups["symbols"].push_back(j);
      }
    }
    doc["lookups"] = lookups;
    sections.push_back(text);
  }

  // Exports write files and say nothing unless they fail (as objcopy); the
  // JSON document reports what was written.
  Json exported = Json::array();
  std::string error;
  auto report = [&](bool done, const Json& j) {
    if (done) {
      exported.push_back(j);
    } else {
      pErrors->push_back(error);
      status = 1;
    }
  };
  Json j;
  if (!r.ihex.empty()) report(ExportIntelHex(s, 1, r.ihex, &j, &error), j);
  if (!r.eepromIhex.empty()) report(ExportIntelHex(s, 4, r.eepromIhex, &j, &error), j);
  if (!r.bin.empty()) report(ExportBinary(s, r.bin, &j, &error), j);
  if (!r.elf.empty()) report(ExportElfFile(s, r.elf, r.machine, &j, &error), j);
  if (!exported.empty()) doc["exports"] = exported;

  for (size_t i = 0; i < sections.size(); ++i) *pText += (i ? "\n" : "") + sections[i];
  return status;
}

}  // namespace dump
