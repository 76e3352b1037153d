#include "console/key_decoder.h"

#include "text/text_helpers.h"

namespace postil {
namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kCtrlA = 0x01;
constexpr unsigned char kCtrlB = 0x02;

}  // namespace

void KeyDecoder::Feed(std::string_view bytes, long long now_ms, std::vector<Key>* keys) {
  Poll(now_ms, keys);
  for (char c : bytes) Take(static_cast<unsigned char>(c), now_ms, keys);
}

void KeyDecoder::Poll(long long now_ms, std::vector<Key>* keys) {
  if (state_ == State::kEscape && now_ms - escape_at_ms_ >= kEscapeWaitMs) {
    keys->push_back(Key::kEscape);
    state_ = State::kGround;
  }
}

void KeyDecoder::Take(unsigned char byte, long long now_ms, std::vector<Key>* keys) {
  switch (state_) {
    case State::kGround:
      if (byte == kEsc) {
        state_ = State::kEscape;
        escape_at_ms_ = now_ms;
      } else if (byte == kCtrlA) {
        keys->push_back(Key::kCtrlA);
      } else if (byte == kCtrlB) {
        keys->push_back(Key::kCtrlB);
      }
      return;
    case State::kEscape:
      TakeAfterEscape(byte, now_ms, keys);
      return;
    case State::kControlSequence:
      // Parameters and intermediates run up to a final byte 0x40..0x7E.
      if (byte < 0x20 || byte > 0x7E || ++sequence_length_ > kMaxSequence) {
        state_ = State::kGround;
        Take(byte, now_ms, keys);
      } else if (byte >= 0x40) {
        state_ = State::kGround;
      }
      return;
    case State::kSingleShift:
      state_ = State::kGround;
      if (IsControlByte(byte)) Take(byte, now_ms, keys);
      return;
  }
}

void KeyDecoder::TakeAfterEscape(unsigned char byte, long long now_ms, std::vector<Key>* keys) {
  state_ = State::kGround;
  if (byte == 'x' || byte == 'X') {
    keys->push_back(Key::kAltX);
  } else if (byte == '[') {
    state_ = State::kControlSequence;
    sequence_length_ = 0;
  } else if (byte == 'O') {
    state_ = State::kSingleShift;
  } else if (IsControlByte(byte)) {
    // A control byte right after Esc is a key of its own (Esc Esc, Esc Ctrl+A).
    keys->push_back(Key::kEscape);
    Take(byte, now_ms, keys);
  }
  // Any other byte makes an Alt key that has no meaning here.
}

}  // namespace postil
