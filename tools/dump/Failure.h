// Why something could not be read, as text a person can act on: status
// codes by name, files the parser refuses, and what ended a failed parse.
#ifndef UBROFDUMP_FAILURE_H
#define UBROFDUMP_FAILURE_H

#include <cstdint>
#include <string>

#include "MirlParserUbrof.h"
#include "MirlProgram.h"

namespace dump {

// A status code as text: its name, or its hexadecimal value.
std::string StatusText(HRESULT hr);

// Why ValidateObjectFile refused the file at path with hr (cannot open, not
// UBROF, anything else).
std::string RefusalText(const std::string& path, HRESULT hr);

// Why the last parse failed (too new, truncated, damaged where), for a file
// of fileSize bytes.
std::string ParseFailureText(const mirl::api::Program& api, uint64_t fileSize);

}  // namespace dump

#endif
