#include "filter/killfile.h"

namespace postil {

// Placeholder until the killfile reader lands: no killfile is ever found.
bool LoadKillfile(RunState&, std::string_view, RuleTable*) { return false; }

}  // namespace postil
