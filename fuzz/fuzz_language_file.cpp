// A language file of arbitrary bytes, read as the program reads system/*.lng: every language it
// offers is selected, and every item is used as a printf format with numbers and texts — a
// translation with a bad conversion must be refused, never reach printf.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

#include "LanguageStore.h"
#include "XmlParser.h"

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/fuzz-language-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made) std::abort();
        std::atexit([] {
            ::unlink((Folder() + "/fuzz.lng").c_str());
            ::rmdir(Folder().c_str());
        });
        return std::string(made);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = Folder() + "/fuzz.lng";
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    tessura::LanguageStore store;
    store.LoadLanguageList(Folder(), "lng");

    tessura::XmlParser parser;
    tessura::XmlElement document;
    parser.Parse(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.lng", document);

    for (const auto& language : store.Languages()) {
        if (store.SelectLanguage(language.name) != tessura::LanguageStore::kSelected) continue;
        store.ResourceName("/jpeg/%s/navbuttons");
        store.HelpName("%s/index.html");
        for (const tessura::XmlElement& translation : document.children) {
            for (const tessura::XmlElement& item : translation.children) {
                const std::string* key = item.attribute("name");
                if (!key) continue;
                store.Text(*key);
                store.Format(*key, {42LL, std::string_view("text"), 1.5});
                store.Format(*key, {std::string_view("a"), std::string_view("b"), std::string_view("c")});
                store.Format(*key, {});
            }
        }
    }
    return 0;
}
