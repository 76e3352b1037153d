#include "console/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace postil {
namespace {

struct Chunk {
  std::string bytes;
  long long at_ms;
};

struct Case {
  const char* name;
  std::vector<Chunk> chunks;
  std::vector<Key> expected;  // after a last poll well past the Esc wait
};

TEST(KeyDecoder, KeysFromTerminalBytes) {
  const Case cases[] = {
      {"lone Esc", {{"\x1b", 0}}, {Key::kEscape}},
      {"Alt+x", {{"\x1bx", 0}}, {Key::kAltX}},
      {"Alt+X", {{"\x1bX", 0}}, {Key::kAltX}},
      {"Ctrl+A", {{"\x01", 0}}, {Key::kCtrlA}},
      {"Ctrl+B", {{"\x02", 0}}, {Key::kCtrlB}},
      {"other keys", {{"ax\r\x03\x7f", 0}}, {}},
      {"arrow", {{"\x1b[A", 0}}, {}},
      {"function key", {{"\x1bOP", 0}}, {}},
      {"modified arrow then Ctrl+A", {{"\x1b[1;5A\x01", 0}}, {Key::kCtrlA}},
      {"sequence split over reads", {{"\x1b[1;", 0}, {"5A", 10}}, {}},
      {"Alt+X split within the wait", {{"\x1b", 0}, {"x", 20}}, {Key::kAltX}},
      {"x after the wait", {{"\x1b", 0}, {"x", 60}}, {Key::kEscape}},
      {"Esc Esc", {{"\x1b\x1b", 0}}, {Key::kEscape, Key::kEscape}},
      {"Esc then Ctrl+A", {{"\x1b\x01", 0}}, {Key::kEscape, Key::kCtrlA}},
      {"other Alt key", {{"\x1bz", 0}}, {}},
      {"endless sequence", {{"\x1b[" + std::string(40, '1') + "\x02", 0}}, {Key::kCtrlB}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyDecoder decoder;
    std::vector<Key> keys;
    for (const Chunk& chunk : c.chunks) decoder.Feed(chunk.bytes, chunk.at_ms, &keys);
    decoder.Poll(1000, &keys);
    EXPECT_EQ(keys, c.expected);
  }
}

TEST(KeyDecoder, LoneEscWaitsForItsFollower) {
  KeyDecoder decoder;
  std::vector<Key> keys;
  decoder.Feed("\x1b", 100, &keys);
  decoder.Poll(100 + KeyDecoder::kEscapeWaitMs - 1, &keys);
  EXPECT_TRUE(keys.empty());
  decoder.Poll(100 + KeyDecoder::kEscapeWaitMs, &keys);
  EXPECT_EQ(keys, std::vector<Key>{Key::kEscape});
}

}  // namespace
}  // namespace postil
