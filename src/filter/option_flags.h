// The option letters of a killfile condition and their flag values. The
// letters after a condition's 0xEA byte add up to its option flags.
// Constants, any thread.
#pragma once

#include <cstdint>

namespace postil {

inline constexpr std::uint32_t kOptionV = 0x1;       // counts as a searched value, searches none
inline constexpr std::uint32_t kOptionC = 0x2;       // case-sensitive
inline constexpr std::uint32_t kOptionG = 0x4;       // whole-word test next to a leading/final "*"
inline constexpr std::uint32_t kOptionY = 0x8;
inline constexpr std::uint32_t kOptionB = 0x10;      // search To
inline constexpr std::uint32_t kOptionE = 0x20;
inline constexpr std::uint32_t kOptionI = 0x40;
inline constexpr std::uint32_t kOptionN = 0x80;      // search From
inline constexpr std::uint32_t kOptionS = 0x100;     // search Subject
inline constexpr std::uint32_t kOptionR = 0x200;
inline constexpr std::uint32_t kOptionK = 0x400;
inline constexpr std::uint32_t kOptionL = 0x800;
inline constexpr std::uint32_t kOptionM = 0x1000;    // the default mode
inline constexpr std::uint32_t kOptionX = 0x2000;    // negate the condition
inline constexpr std::uint32_t kOptionQ = 0x4000;    // stop asking for further rules
inline constexpr std::uint32_t kOptionH = 0x8000;
inline constexpr std::uint32_t kOptionD = 0x10000;
inline constexpr std::uint32_t kOptionP = 0x20000;
inline constexpr std::uint32_t kOptionF = 0x40000;
inline constexpr std::uint32_t kOptionPlus = 0x80000;
inline constexpr std::uint32_t kOptionMinus = 0x100000;

// Letters that say which values a pattern is matched against.
inline constexpr std::uint32_t kTargetOptions = kOptionV | kOptionB | kOptionN | kOptionS;
// Mode letters: they have no effect, but one of them is always set.
inline constexpr std::uint32_t kModeOptions = kOptionE | kOptionK | kOptionM | kOptionH |
                                              kOptionD | kOptionP | kOptionF | kOptionPlus |
                                              kOptionMinus;
// A condition without an option word.
inline constexpr std::uint32_t kDefaultOptions = kOptionS | kOptionM;

// The flag value of an option letter (upper case), 0 for any other byte.
std::uint32_t OptionLetterValue(char letter);

}  // namespace postil
