#include "pop3/pop3_stores.h"

#include "config/config.h"

namespace postil {

void Pop3Stores::OpenRequestbase(RunState& state, const Config& config) {
  requestbase.OpenRequestbase(state, kRequestbaseFileName, config.HostRelease);
}

}  // namespace postil
