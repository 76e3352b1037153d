#include "pop3/pop3_context.h"

#include "core/run_state.h"

namespace postil {

void Pop3Log(Pop3Context& context, std::string_view text, int level) {
  context.state.log.WriteLog(text, kPop3Thread, level);
}

}  // namespace postil
