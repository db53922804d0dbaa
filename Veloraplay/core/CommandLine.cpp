#include "CommandLine.h"

#include <sys/stat.h>
#include <cctype>

namespace veloraplay {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> splitArguments(const std::string& text) {
    std::vector<std::string> words;
    const std::size_t size = text.size();
    std::size_t pos = 0;
    bool inQuotes = false;  // once per text: it carries over from one word to the next
    for (;;) {
        while (pos < size && isBlank(text[pos])) ++pos;
        if (pos >= size) break;
        std::string word;
        while (pos < size) {
            const char c = text[pos];
            if (c == '\\') {
                std::size_t n = 0;
                while (pos < size && text[pos] == '\\') {
                    ++n;
                    ++pos;
                }
                if (pos < size && text[pos] == '"') {
                    word.append(n / 2, '\\');
                    if (n % 2 == 1) {
                        word.push_back('"');
                        ++pos;
                    }
                    // With an even count the quote is handled below as a quoting quote.
                } else {
                    word.append(n, '\\');
                }
                continue;
            }
            if (c == '"') {
                if (inQuotes && pos + 1 < size && text[pos + 1] == '"') {
                    word.push_back('"');
                    pos += 2;
                } else {
                    ++pos;
                }
                inQuotes = !inQuotes;
                continue;
            }
            if (!inQuotes && isBlank(c)) break;
            word.push_back(c);
            ++pos;
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::string joinArguments(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        if (!text.empty()) text.push_back(' ');
        const bool plain = !word.empty() && word.find_first_of(" \t\"") == std::string::npos;
        if (plain) {
            // Backslashes not followed by a quote are copied as they are.
            text += word;
            continue;
        }
        text.push_back('"');
        std::size_t backslashes = 0;
        for (const char c : word) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            if (c == '"') {
                text.append(2 * backslashes + 1, '\\');  // odd count: a literal quote
            } else {
                text.append(backslashes, '\\');
            }
            backslashes = 0;
            text.push_back(c);
        }
        text.append(2 * backslashes, '\\');  // before the closing quote they must be doubled
        text.push_back('"');
    }
    return text;
}

bool isEncodeSwitch(const std::string& firstArgument) {
    static constexpr char kSwitch[] = "/ENCODE";
    if (firstArgument.size() != sizeof kSwitch - 1) return false;
    for (std::size_t i = 0; i < firstArgument.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(firstArgument[i])) != kSwitch[i]) return false;
    }
    struct stat st {};
    return ::lstat(firstArgument.c_str(), &st) != 0;
}

std::string encoderInputFromText(const std::string& textAfterSwitch) {
    const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::size_t begin = 0;
    std::size_t end = textAfterSwitch.size();
    while (begin < end && isSpace(textAfterSwitch[begin])) ++begin;
    while (end > begin && isSpace(textAfterSwitch[end - 1])) --end;
    std::string input = textAfterSwitch.substr(begin, end - begin);
    if (!input.empty() && input.front() == '"') input.erase(0, 1);
    if (!input.empty() && input.back() == '"') input.pop_back();
    return input;
}

std::string encoderTextFromArguments(const std::vector<std::string>& words) {
    if (words.empty()) return {};
    if (words.size() == 1) {
        std::string text = " \"";
        text.append(words.front());
        text.push_back('"');
        return text;
    }
    std::string text(1, ' ');
    text.append(joinArguments(words));
    return text;
}

}  // namespace veloraplay
