// Thread numbers as they appear in log lines. Constants, any thread.
#pragma once

namespace postil {

inline constexpr int kMainThread = -1;
inline constexpr int kScreenThread = 0;
inline constexpr int kPop3Thread = 1;
inline constexpr int kSmtpThread = 2;

}  // namespace postil
