// A fixed-width text shown on the status panel: an assignment cuts or pads
// the text to the width with blanks. Written by one worker, read by the
// status screen thread; a read always sees a whole old or a whole new text.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace postil {

template <std::size_t Width>
class StatusField {
 public:
  static constexpr std::size_t kWidth = Width;

  StatusField() : text_(Width, ' ') {}

  void Set(std::string_view text) {
    std::string fitted(text.substr(0, Width));
    fitted.resize(Width, ' ');
    std::lock_guard lock(mutex_);
    text_.swap(fitted);
  }

  std::string Get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace postil
