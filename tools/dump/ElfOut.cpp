#include "ElfOut.h"

#include "ElfExport.h"

namespace dump {

bool ExportElfFile(Session& s, const std::string& path, const std::string& machine, Json* pReport,
                   std::string* pError) {
  elfx::Target target;
  if (!machine.empty() && !elfx::TargetNamed(machine, &target)) {
    *pError = "--machine " + machine + ": not a known target";
    return false;
  }
  elfx::ElfReport r;
  if (!elfx::ExportElf(s.Api(), target, path, &r, pError)) return false;
  *pReport = {{"format", "elf"},          {"path", path},
              {"machine", r.target.name}, {"units", r.units},
              {"functions", r.functions}, {"variables", r.variables},
              {"line_rows", r.lineRows},  {"symbols", r.symbols}};
  return true;
}

}  // namespace dump
