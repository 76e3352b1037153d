// Fixed names of the program and of its threads. Constants, any thread.
#pragma once

#include <string_view>

namespace postil {

inline constexpr std::string_view ProgramName = "POSTIL ";
inline constexpr std::string_view ProgramVersion = "v1.99g";
inline constexpr std::string_view ExitRequestText = "Exit requested by User";
inline constexpr std::string_view StateMutexName = "postil_quil_fileopen";

// Thread numbers as they appear in log lines.
inline constexpr int kMainThread = -1;
inline constexpr int kScreenThread = 0;
inline constexpr int kPop3Thread = 1;
inline constexpr int kSmtpThread = 2;

}  // namespace postil
