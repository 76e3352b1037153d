#include "platform/console_cells.h"

#include <gtest/gtest.h>

#include <string>

namespace postil::platform {
namespace {

TEST(KeyOfEvent, TheStatusScreensKeysAndInterrupts) {
  constexpr unsigned kEscape = 0x1B, kX = 0x58, kA = 0x41, kC = 0x43;
  const struct {
    const char* name;
    ConsoleKeyEvent event;
    std::optional<ConsoleKey> key;
    bool interrupt;
  } cases[] = {
      {"Esc", {true, kEscape, 0x1B, false}, ConsoleKey::kEscape, false},
      {"Esc released", {false, kEscape, 0x1B, false}, std::nullopt, false},
      {"Alt+x", {true, kX, u'x', true}, ConsoleKey::kAltX, false},
      {"Alt+Shift+X", {true, kX, u'X', true}, ConsoleKey::kAltX, false},
      {"x", {true, kX, u'x', false}, std::nullopt, false},
      {"Ctrl+A", {true, kA, 0x01, false}, ConsoleKey::kCtrlA, false},
      {"Ctrl+B", {true, 0x42, 0x02, false}, ConsoleKey::kCtrlB, false},
      {"Ctrl+C", {true, kC, 0x03, false}, std::nullopt, true},
      {"Ctrl+C released", {false, kC, 0x03, false}, std::nullopt, false},
      {"a", {true, kA, u'a', false}, std::nullopt, false},
      {"Alt+A", {true, kA, u'a', true}, std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const KeyMeaning meaning = KeyOfEvent(c.event);
    EXPECT_EQ(meaning.key, c.key);
    EXPECT_EQ(meaning.interrupt, c.interrupt);
  }
}

}  // namespace
}  // namespace postil::platform
