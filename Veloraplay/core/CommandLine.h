#pragma once
// The player's command-line text: split into arguments, joined back from argv, and the
// encoder switch that picks the stand-alone encoder window.
#include <optional>
#include <string>
#include <vector>

namespace veloraplay {

// Splits one command-line text into arguments: blanks separate words outside quotes; a
// quote toggles quoting (the mode carries from one word to the next); "" inside quotes gives
// one literal quote; n backslashes before a quote give n/2 backslashes, and the quote is
// literal when n is odd; other backslashes are copied as they are.
std::vector<std::string> splitArguments(const std::string& text);

// The exact inverse of splitArguments: splitArguments(joinArguments(a)) == a for any words
// without a NUL, so every Linux file name survives being handed over as text.
std::string joinArguments(const std::vector<std::string>& words);

// The encoder switch. On Linux every absolute path begins with '/', so only a first argument
// that is exactly "/ENCODE" (in any case) counts, and only when no file of that name exists.
bool isEncodeSwitch(const std::string& firstArgument);

// The encoder's input from the text after the switch: trimmed, then one leading and one
// trailing double quote removed.
std::string encoderInputFromText(const std::string& textAfterSwitch);

// The text after the switch for the arguments that followed it, made so that
// encoderInputFromText gives back a single argument unchanged.
std::string encoderTextFromArguments(const std::vector<std::string>& words);

}  // namespace veloraplay
