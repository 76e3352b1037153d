// Thread numbers as they appear in log lines. Constants, any thread.
#pragma once

namespace postil {

enum class LogThread : int {
  kMain = -1,
  kScreen = 0,
  kPop3 = 1,
  kSmtp = 2,
};

}  // namespace postil
