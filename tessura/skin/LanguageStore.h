#pragma once
// The program's texts. Every text the user sees is a key ("nav/play", "errors/noinputmodule")
// looked up in the selected translation of a language file: the system/*.lng files, each
// holding one or more <Translation> elements with a <Language> name, a <resource> and a <help>
// word and <item name="key">text</item> entries. The English translation is the fallback; a
// key that neither holds is shown as itself.
//
// Loading and selecting happen on the main thread before anything else runs; look-ups only read,
// so any thread may make them once the language is chosen.
#include "CheckedFormat.h"
#include "ErrorService.h"
#include "XmlParser.h"

#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessura {

struct LanguageFileError {
    std::string fileName;  // the file's name without its folder
    std::string title;     // "Error loading language file '%s'" filled in
    std::string text;      // "Couldn't parse XML : " and the parser's text
};

class LanguageStore {
  public:
    static constexpr int kSelected = 0;
    static constexpr int kNotOffered = -1;
    static constexpr int kFileNoLongerParses = 254;
    static constexpr int kNoSuchTranslation = 253;
    static constexpr const char* kFallbackLanguage = "English";

    explicit LanguageStore(std::shared_ptr<ErrorService> errors = nullptr);

    // Reads every file ending in "." + `extension` in `directory` (in name order) and lists the
    // languages they offer; the files that do not parse are returned, the others still read.
    std::vector<LanguageFileError> LoadLanguageList(const std::string& directory,
                                                    const std::string& extension = "lng");

    // 0, kNotOffered, kFileNoLongerParses or kNoSuchTranslation. Names compare without case.
    int SelectLanguage(std::string_view name);

    // The translation of `key`; with `fallback`, the fallback language's next; else the key.
    std::string Text(std::string_view key, bool fallback = true) const;
    // A translation used as a printf format, checked against `args` first: a translation that
    // does not fit is passed over for the fallback's, and when neither fits the key is shown
    // followed by the values.
    std::string Format(std::string_view key, std::initializer_list<FormatArg> args) const;

    // `format` with its %s filled by the selected translation's resource word ("english") /
    // help word ("help").
    std::string ResourceName(std::string_view format) const;
    std::string HelpName(std::string_view format) const;

    struct Language {
        std::string path, name;
    };
    const std::vector<Language>& Languages() const { return languages_; }
    const std::string& SelectedName() const { return selected_.name; }

  private:
    struct Translation {
        std::string name, resource = "english", help = "help";
        std::map<std::string, std::string> items;  // lower-case key -> text (first one wins)
        bool loaded = false;
    };
    static Translation fromElement(const XmlElement& element);
    static const std::string* find(const Translation& t, std::string_view key);

    std::shared_ptr<ErrorService> errors_;
    std::vector<Language> languages_;
    Translation selected_;
    Translation fallback_;
};

// `format` with each "%s" replaced by `word` ("%%" gives '%'); any other conversion is left out.
std::string fillWord(std::string_view format, std::string_view word);

}  // namespace tessura
