// Symbol and macro records. Not built yet: each fails the parse.
#include "../ubrof/Parser.h"

namespace mirl {
int CParser::t_symbol_def() { return 1; }
int CParser::t_symbol_def1() { return 1; }
int CParser::t_symbol_def2() { return 1; }
int CParser::t_sub_def_obj_attr() { return 1; }
int CParser::t_macro() { return 1; }
}  // namespace mirl
