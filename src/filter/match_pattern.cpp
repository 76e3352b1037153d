#include "filter/match_pattern.h"

#include <string>
#include <vector>

#include "filter/option_flags.h"
#include "text/cp437_case.h"

namespace postil {
namespace {

// Up to this length a plain search costs at most this many comparisons per
// text byte; longer needles use the prefix table, so a search never costs
// more than a constant times the text it passes over.
constexpr std::size_t kShortNeedle = 16;

// Knuth-Morris-Pratt over one needle: each text byte is looked at a bounded
// number of times, whatever the needle.
class NeedleSearch {
 public:
  explicit NeedleSearch(std::string_view needle) : needle_(needle), border_(needle.size(), 0) {
    std::size_t k = 0;
    for (std::size_t i = 1; i < needle_.size(); ++i) {
      while (k > 0 && needle_[i] != needle_[k]) k = border_[k - 1];
      if (needle_[i] == needle_[k]) ++k;
      border_[i] = k;
    }
  }

  // Calls `on_hit(position)` for every occurrence at or after `from`, in
  // order, until it returns false.
  template <typename OnHit>
  void Scan(std::string_view text, std::size_t from, OnHit on_hit) const {
    std::size_t k = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
      while (k > 0 && text[i] != needle_[k]) k = border_[k - 1];
      if (text[i] == needle_[k]) ++k;
      if (k == needle_.size()) {
        if (!on_hit(i + 1 - k)) return;
        k = border_[k - 1];
      }
    }
  }

 private:
  std::string_view needle_;
  std::vector<std::size_t> border_;
};

// First occurrence of a non-empty needle at or after `from`.
std::size_t FindLiteral(std::string_view text, std::string_view needle, std::size_t from) {
  if (needle.size() <= kShortNeedle) return text.find(needle, from);
  std::size_t found = std::string_view::npos;
  NeedleSearch(needle).Scan(text, from, [&](std::size_t at) {
    found = at;
    return false;
  });
  return found;
}

// 0xFF separates the lines of a joined header value, so it bounds a word too.
bool IsSeparator(char c) {
  auto byte = static_cast<unsigned char>(c);
  return (byte < 'A' && !(byte >= '0' && byte <= '9')) || byte == 0xFF;
}

// The "G" test for a run found at `at`: next to a leading "*" the byte before
// it, next to the final "*" the byte after it must be a separator.
bool WordBounded(std::string_view pattern, std::size_t run_begin, std::size_t run_end,
                 std::string_view text, std::size_t at) {
  bool after_leading_star = run_begin == 1;
  bool before_final_star = run_end + 1 == pattern.size() && pattern[run_end] == '*';
  std::size_t end = at + (run_end - run_begin);
  if (after_leading_star && at > 0 && !IsSeparator(text[at - 1])) return false;
  if (before_final_star && end < text.size() && !IsSeparator(text[end])) return false;
  return true;
}

}  // namespace

bool MatchFoldedText(std::string_view pattern, std::string_view text, std::uint32_t flags) {
  const bool word_test = (flags & kOptionG) != 0;
  std::size_t t = 0;  // may pass the end: "?" consumes a position even there
  std::size_t i = 0;
  while (i < pattern.size()) {
    char c = pattern[i];
    if (c == '*') {
      if (i + 1 == pattern.size()) return true;
      char next = pattern[i + 1];
      if (next == '*') {
        if (t >= text.size() || text[t] != '*') return false;
        ++t;
        i += 2;
        continue;
      }
      if (next == '?') {
        ++t;
        i += 2;
        continue;
      }
      std::size_t run_begin = i + 1;
      std::size_t run_end = run_begin;
      while (run_end < pattern.size() && pattern[run_end] != '*' && pattern[run_end] != '?') {
        ++run_end;
      }
      std::size_t at = FindLiteral(text, pattern.substr(run_begin, run_end - run_begin), t);
      if (at == std::string_view::npos) return false;
      if (word_test && !WordBounded(pattern, run_begin, run_end, text, at)) return false;
      t = at + (run_end - run_begin);
      i = run_end;
      continue;
    }
    if (c != '?' && (t >= text.size() || text[t] != c)) return false;
    ++t;
    ++i;
  }
  return t == text.size() || (t < text.size() && static_cast<unsigned char>(text[t]) == 0xFF);
}

bool MatchPattern(std::string_view pattern, std::string_view text, std::uint32_t flags) {
  if (flags & kOptionC) return MatchFoldedText(pattern, text, flags);
  return MatchFoldedText(pattern, UpperCase(text), flags);
}

std::size_t CountOccurrences(std::string_view word, std::string_view text) {
  if (word.empty()) return 0;
  std::size_t count = 0;
  if (word.size() <= kShortNeedle) {
    for (std::size_t at = text.find(word); at != std::string_view::npos;
         at = text.find(word, at + 1)) {
      ++count;
    }
    return count;
  }
  NeedleSearch(word).Scan(text, 0, [&](std::size_t) {
    ++count;
    return true;
  });
  return count;
}

}  // namespace postil
