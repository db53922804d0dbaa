#pragma once
// Letter-case rules of tessura's look-ups: section, key, language and extension names are
// compared without regard to ASCII case, as the Windows registry and file system did.
#include <string>
#include <string_view>

namespace tessura {

bool equalsNoCase(std::string_view a, std::string_view b);
bool containsNoCase(std::string_view text, std::string_view part);
std::string lowerAscii(std::string_view text);

// Blanks and tabs stripped from both ends.
std::string_view stripBlanks(std::string_view text);

// Line breaks (CR, LF) turned into blanks, for texts that must stay on one line of a file.
std::string singleLine(std::string_view text);

// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 sequence.
std::string cutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace tessura
