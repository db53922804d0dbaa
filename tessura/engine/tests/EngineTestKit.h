#pragma once
// Helpers of the engine's tests: a temporary folder, files, peer commands, and a minimal host
// chain that joins an input module's output calls to an output plug-in's pulls.
#include "ModuleHostServices.h"
#include "OutputHostBuffers.h"
#include "TessuraPluginAbi.h"

#include "LanguageStore.h"
#include "ProgramFolder.h"
#include "ScriptedDialogService.h"
#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace tessura::test {

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = std::filesystem::temp_directory_path() / "tessura-engine-XXXXXX";
        path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A program folder with system/ holding the language file and `plugins` (source, name).
struct ProgramHome {
    test::TempFolder folder;
    ProgramHome(const std::vector<std::pair<std::string, std::string>>& plugins) {
        std::filesystem::create_directories(folder.file("system"));
        std::filesystem::create_directories(folder.file("config"));
        std::filesystem::copy_file(VELORA_SOURCE_DIR "/tessura/system/english.lng", folder.file("system/english.lng"));
        for (const auto& [source, name] : plugins) std::filesystem::copy_file(source, folder.file("system/" + name));
        ::setenv("TESSURA_HOME", folder.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", folder.file("config").c_str(), 1);
        ::setenv("TESSURA_AUDIO", "null", 1);
        const ProgramFolder program = ProgramFolder::fromEnvironment();
        settings = std::make_unique<SettingsStore>(program.settingsFile(), program.home);
        language.LoadLanguageList(program.systemDir());
        EXPECT_EQ(language.SelectLanguage("English"), LanguageStore::kSelected);
        home = program.home;
    }
    std::string home;
    std::unique_ptr<SettingsStore> settings;
    LanguageStore language;
    ScriptedDialogService dialogs{nullptr};
};

#ifdef TESSURA_MPEG_MODULE
// The project's own plug-ins, as they are named in a program folder.
inline std::vector<std::pair<std::string, std::string>> realPlugins() {
    return {{TESSURA_MPEG_MODULE, "mpeg_audio.tqp"},
            {TESSURA_SOUNDFILE_MODULE, "sound_file.tqp"},
            {TESSURA_STEREO_WIDTH, "stereo_width.so"}};
}
#endif

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline int run(const std::string& command) {
    return std::system(command.c_str());
}

// Joins a module to an output: OpenOutput opens the output, WriteOutput queues the PCM, and
// the output's NextBlock takes it a block at a time. The source is a plain file, seekable or
// (to stand for a stream) not.
class ModuleTestChain final : public ModuleHostServices {
  public:
    ModuleTestChain(OutputInterface* output, std::string file, bool seekable)
        : output_(output), file_(std::move(file)), seekable_(seekable),
          source_(std::fopen(file_.c_str(), "rb")) {}
    ~ModuleTestChain() override {
        if (source_ != nullptr) std::fclose(source_);
    }

    OutputHost* host() { return &host_.iface; }
    uint32_t blockSize() const { return buffers_.blockSize(); }
    OutputHostBuffers& buffers() { return buffers_; }
    int opened() const { return opened_; }

    // Until the module has ended and the output has taken everything (false after a minute).
    bool waitUntilTaken() {
        std::unique_lock<std::mutex> hold(mutex_);
        return changed_.wait_for(hold, std::chrono::seconds(60), [this] { return ended_ && pending_.empty(); });
    }

    int32_t openOutput(int32_t rate, int32_t channels, int32_t bitsCode) override {
        int32_t bits = bitsCode == MODULE_BITS_8 ? 8 : (bitsCode == MODULE_BITS_16 ? 16 : bitsCode);
        ++opened_;
        return output_->table->Open(output_, 1, &rate, &channels, &bits) == 0 ? 1 : 0;
    }
    int32_t writeOutput(int32_t, const WriteBlock& block) override {
        std::lock_guard<std::mutex> hold(mutex_);
        const auto* bytes = static_cast<const uint8_t*>(block.data);
        pending_.insert(pending_.end(), bytes, bytes + block.length);
        return 1;
    }
    void notifyEnd() override {
        std::lock_guard<std::mutex> hold(mutex_);
        ended_ = true;
        changed_.notify_all();
    }
    intptr_t hostRequest(int32_t, intptr_t) override { return 0; }
    bool readSource(void* buffer, uint32_t size, uint32_t& bytesRead) override {
        if (source_ == nullptr) return false;
        bytesRead = static_cast<uint32_t>(std::fread(buffer, 1, size, source_));
        return bytesRead > 0 || std::feof(source_) != 0;
    }
    bool seekSource(int64_t position, int32_t method, int64_t& previous) override {
        if (!seekable_ || source_ == nullptr) return false;
        previous = ::ftello(source_);
        const int whence = method == SOURCE_SEEK_BEGIN ? SEEK_SET : (method == SOURCE_SEEK_CURRENT ? SEEK_CUR : SEEK_END);
        return ::fseeko(source_, static_cast<off_t>(position), whence) == 0;
    }
    std::string sourceName() override { return file_; }

  private:
    int32_t nextBlock(OutputBlock& block) {
        std::lock_guard<std::mutex> hold(mutex_);
        const std::size_t size = buffers_.blockSize();
        if (size == 0 || pending_.empty() || (pending_.size() < size && !ended_)) return TESSURA_RESULT_FAILED;
        const std::size_t n = std::min(size, pending_.size());
        std::copy(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n), static_cast<uint8_t*>(block.data));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
        block.length = static_cast<uint32_t>(n);
        block.flags = OUTPUT_BLOCK_POSITION_VALID;
        block.positionMs = 0;
        block.songId = 1;
        changed_.notify_all();
        return TESSURA_RESULT_OK;
    }

    struct Handle {
        OutputHost iface;
        ModuleTestChain* owner;
    };
    static ModuleTestChain& of(OutputHost* host) { return *reinterpret_cast<Handle*>(host)->owner; }
    static const OutputHostTable kTable;

    OutputInterface* output_;
    std::string file_;
    bool seekable_;
    std::FILE* source_;
    Handle host_{{&kTable}, this};
    OutputHostBuffers buffers_;
    int opened_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint8_t> pending_;
    bool ended_ = false;
};

inline const OutputHostTable ModuleTestChain::kTable = {
    [](OutputHost* h, OutputBlock* b) -> int32_t { return of(h).nextBlock(*b); },
    [](OutputHost* h, uint32_t bytes) -> int32_t {
        std::lock_guard<std::mutex> hold(of(h).mutex_);
        of(h).buffers_.setBlockSize(bytes);
        return TESSURA_RESULT_OK;
    },
    [](OutputHost*, int32_t, int32_t) -> int32_t { return TESSURA_RESULT_OK; },
};

}  // namespace tessura::test
