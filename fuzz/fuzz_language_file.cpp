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

// One folder per process, made on first use and removed at exit (a plain array: it must outlive
// the exit handler).
char gFolder[] = "/tmp/fuzz-language-XXXXXX";
char gFile[sizeof gFolder + 9];

const char* File() {
    static const bool made = [] {
        if (!::mkdtemp(gFolder)) std::abort();
        std::snprintf(gFile, sizeof gFile, "%s/fuzz.lng", gFolder);
        std::atexit([] {
            ::unlink(gFile);
            ::rmdir(gFolder);
        });
        return true;
    }();
    (void)made;
    return gFile;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (std::FILE* file = std::fopen(File(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    tessura::LanguageStore store;
    store.LoadLanguageList(gFolder, "lng");

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
