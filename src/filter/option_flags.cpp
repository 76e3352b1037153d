#include "filter/option_flags.h"

#include <array>
#include <utility>

namespace postil {
namespace {

constexpr std::array<std::pair<char, std::uint32_t>, 21> kOptionLetters = {{
    {'V', kOptionV}, {'C', kOptionC}, {'G', kOptionG}, {'Y', kOptionY},
    {'B', kOptionB}, {'E', kOptionE}, {'I', kOptionI}, {'N', kOptionN},
    {'S', kOptionS}, {'R', kOptionR}, {'K', kOptionK}, {'L', kOptionL},
    {'M', kOptionM}, {'X', kOptionX}, {'Q', kOptionQ}, {'H', kOptionH},
    {'D', kOptionD}, {'P', kOptionP}, {'F', kOptionF}, {'+', kOptionPlus},
    {'-', kOptionMinus},
}};

constexpr std::array<std::uint32_t, 256> MakeLetterTable() {
  std::array<std::uint32_t, 256> table{};
  for (auto [letter, value] : kOptionLetters) table[static_cast<unsigned char>(letter)] = value;
  return table;
}

constexpr std::array<std::uint32_t, 256> kLetterTable = MakeLetterTable();

}  // namespace

std::uint32_t OptionLetterValue(char letter) {
  return kLetterTable[static_cast<unsigned char>(letter)];
}

}  // namespace postil
