#pragma once
// printf-style formats that come from outside the program (translations in language files),
// checked against the arguments before use. A format whose conversions do not match the
// arguments — a missing argument, a string where a number goes, '%n', '*', positional
// arguments, an absurd width — is refused instead of reaching printf.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace tessura {

using FormatArg = std::variant<long long, double, std::string_view>;

// The formatted text, or nothing when `format` does not fit `args`. A format may use fewer
// arguments than given (a translation may leave a value out), never more.
std::optional<std::string> formatChecked(std::string_view format, std::span<const FormatArg> args);

// Whether `format` is a well-formed format at all (any argument types).
bool isWellFormedFormat(std::string_view format);

}  // namespace tessura
