// The killfile's wildcard match and word count. One left-to-right pass over
// pattern and text, no backtracking; time linear in both. Stateless, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace postil {

// "*" any run, "?" one character, "**" a literal "*", "*?" like "?"; the
// text must be covered unless the pattern ends with "*", and a 0xFF byte
// (a line end inside a joined header value) ends it as well. Only the first
// occurrence of a literal run after a "*" is tried. Without "C" in `flags`
// the text is upper-cased (the caller upper-cases the pattern); "G" asks for
// word boundaries next to a leading and a final "*".
bool MatchPattern(std::string_view pattern, std::string_view text, std::uint32_t flags);

// MatchPattern for a text that is already in the case `flags` asks for
// (upper-cased unless "C"), so a value shared by many rules is folded once.
bool MatchFoldedText(std::string_view pattern, std::string_view text, std::uint32_t flags);

// Occurrences of `word` in `text`, overlapping ones included; 0 for an empty word.
std::size_t CountOccurrences(std::string_view word, std::string_view text);

}  // namespace postil
