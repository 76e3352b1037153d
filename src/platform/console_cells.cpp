#include "platform/console_cells.h"

namespace postil::platform {
namespace {

// The console's virtual key codes of the keys read by code rather than by
// the character they type.
constexpr unsigned kVirtualKeyEscape = 0x1B;
constexpr unsigned kVirtualKeyX = 0x58;

constexpr char16_t kEscape = 0x1B;
constexpr char16_t kCtrlA = 0x01;
constexpr char16_t kCtrlB = 0x02;
constexpr char16_t kCtrlC = 0x03;

}  // namespace

KeyMeaning KeyOfEvent(const ConsoleKeyEvent& event) {
  if (!event.down) return {};
  if (event.alt && event.virtual_key == kVirtualKeyX) return {ConsoleKey::kAltX};
  if (event.virtual_key == kVirtualKeyEscape || event.character == kEscape) {
    return {ConsoleKey::kEscape};
  }
  switch (event.character) {
    case kCtrlA:
      return {ConsoleKey::kCtrlA};
    case kCtrlB:
      return {ConsoleKey::kCtrlB};
    case kCtrlC:
      return {std::nullopt, true};
    default:
      return {};
  }
}

}  // namespace postil::platform
