#pragma once
// Small text helpers for the INI-like files the core reads and edits in place.
#include <string>

namespace veloraplay {

// ASCII case-insensitive equality, as key and section look-up needs.
bool equalNoCase(const std::string& a, const std::string& b);
// `s` without leading and trailing blanks, tabs and carriage returns.
std::string trimmed(const std::string& s);

}  // namespace veloraplay
