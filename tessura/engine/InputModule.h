#pragma once
// One input module file: its library, its four required exports and the optional ExtendedInfo,
// the record it shares with the host, and an owned copy of its description. Loads are counted;
// the library goes when the count returns to zero.
#include "SharedLibrary.h"
#include "TessuraPluginAbi.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>
#include <string>

namespace tessura {

struct ModuleDescriptionCopy {
    std::string name, text1, text2;
    std::string extensions;  // "mp3\0mp2\0\0" as the module gave it (ends with an empty entry)
    int32_t flags = 0;
    std::vector<std::string> extensionList() const;
};

class InputModule {
  public:
    enum class LoadResult { Loaded, CannotOpen, MissingExport, InitialiseFailed };

    // `settingsPath`: the program folder's "tvp.ini".
    InputModule(std::string path, std::string settingsPath);
    ~InputModule();
    InputModule(const InputModule&) = delete;
    InputModule& operator=(const InputModule&) = delete;

    // The first load opens the library (the module's folder current), binds the exports, zeroes
    // the record, fills its host fields and calls Initialise when asked, then copies Query's
    // description. Every successful load counts.
    LoadResult load(bool initialise);
    // One load less; at zero Shutdown (when Initialise succeeded and `shutdown`) and release.
    void unload(bool shutdown);
    bool loaded() const { return library_ != nullptr; }
    bool initialised() const { return initialised_; }
    int loadCount() const { return loadCount_; }
    const std::string& loadError() const { return loadError_; }

    const std::string& path() const { return path_; }
    const ModuleDescriptionCopy& description() const { return description_; }
    bool ClaimsFile(const std::string& name) const;

    // Configure with its own record: the settings page the module offers, or none.
    std::optional<intptr_t> configure();
    // The current track's information (HTML), or none without the export or a text.
    std::optional<std::string> extendedInfo();

    InputModuleRecord& record() { return record_; }

  private:
    bool bind();

    std::string path_, settingsPath_;
    std::unique_ptr<SharedLibrary> library_;
    int loadCount_ = 0;
    bool initialised_ = false;
    std::string loadError_;
    QueryFunction query_ = nullptr;
    InitialiseFunction initialise_ = nullptr;
    ShutdownFunction shutdown_ = nullptr;
    ConfigureFunction configure_ = nullptr;
    ExtendedInfoFunction extendedInfo_ = nullptr;
    InputModuleRecord record_{};
    ModuleDescriptionCopy description_;
};

// The folder part of `path` ("" for a bare name).
std::string folderOfPath(const std::string& path);

}  // namespace tessura
