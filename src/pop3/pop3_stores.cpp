#include "pop3/pop3_stores.h"

namespace postil {

// Filled in with the Dupebase and Requestbase.
void Pop3Stores::LoadDupebase(RunState&) {}
void Pop3Stores::OpenRequestbase(RunState&, const Config&) {}
void Pop3Stores::SaveDupebase(RunState&) {}
void Pop3Stores::CloseRequestbase(RunState&) {}

}  // namespace postil
