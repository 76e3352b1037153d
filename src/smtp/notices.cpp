#include "smtp/notices.h"

namespace postil {

// Filled in with the local mail writer.
void WriteOutdatedHostNotice(RunState&, const Config&) {}
void WriteConfigurationNotice(RunState&, const Config&) {}

}  // namespace postil
