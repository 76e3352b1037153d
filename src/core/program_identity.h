// Fixed names of the program and of its threads. Constants, any thread.
#pragma once

#include <string_view>

#include "log/log_threads.h"

namespace postil {

inline constexpr std::string_view ProgramName = "POSTIL ";
inline constexpr std::string_view ProgramVersion = "v1.99g";
inline constexpr std::string_view ExitRequestText = "Exit requested by User";
inline constexpr std::string_view StateMutexName = "postil_quil_fileopen";

}  // namespace postil
