// Turns the bytes typed on a terminal into the keys of the status screen:
// Esc, Alt+X (Esc followed at once by x or X), Ctrl+A (0x01) and Ctrl+B
// (0x02). The escape sequences of other keys (arrows, function keys) are
// dropped whole, so they never count as Esc. Pure; owned by one thread.
#pragma once

#include <string_view>
#include <vector>

#include "console/console_device.h"

namespace postil {

class KeyDecoder {
 public:
  // How long an Esc waits for the byte that would make it Alt+X or part of a
  // key's sequence; terminals send those in one piece, well within this.
  static constexpr long long kEscapeWaitMs = 50;
  // Longest key sequence kept track of; a longer one ends the sequence.
  static constexpr int kMaxSequence = 32;

  // Bytes that arrived at `now_ms` (any monotonic milliseconds); the keys
  // they complete are appended to `keys`.
  void Feed(std::string_view bytes, long long now_ms, std::vector<Key>* keys);
  // An Esc whose wait has run out by `now_ms` becomes Esc.
  void Poll(long long now_ms, std::vector<Key>* keys);
  void Reset() { state_ = State::kGround; }

 private:
  enum class State { kGround, kEscape, kControlSequence, kSingleShift };

  void Take(unsigned char byte, long long now_ms, std::vector<Key>* keys);
  void TakeAfterEscape(unsigned char byte, long long now_ms, std::vector<Key>* keys);

  State state_ = State::kGround;
  long long escape_at_ms_ = 0;
  int sequence_length_ = 0;
};

}  // namespace postil
