#pragma once
// The program's error service: negative result codes and their texts. The generic codes are
// shared by everything; each parser registers a table of its own codes, once, under its module
// name. One object, shared (by reference count) by everything that reports errors, among them
// the internet-stream library.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessura {

namespace error_code {
inline constexpr int kUnknown = -1;
inline constexpr int kOutOfMemory = -2;
inline constexpr int kFileNotFound = -3;
inline constexpr int kCouldNotRead = -4;
inline constexpr int kCouldNotWrite = -5;
inline constexpr int kInvalidParameter = -6;
inline constexpr int kDiskWriteFailed = -7;
inline constexpr int kAlreadyInitialised = -8;
inline constexpr int kNotInitialised = -9;
inline constexpr int kUnknownVersion = -10;
inline constexpr int kUnknownType = -11;
inline constexpr int kWrongFileType = -12;
inline constexpr int kResourceNotAvailable = -13;
}  // namespace error_code

class ErrorService {
  public:
    static std::shared_ptr<ErrorService> create();

    // Registers the module's texts for the codes first, first - 1, ...; a module registers
    // once (a second call changes nothing and returns false). Module codes lie below the
    // generic ones, so a code names one text whatever module asks.
    bool registerModule(std::string_view module, int firstCode, std::vector<std::string> texts);
    bool hasModule(std::string_view module) const;

    // The text of `code`: the generic table, then the registered tables; nothing for a code
    // that no table holds.
    std::optional<std::string> text(int code) const;

  private:
    ErrorService() = default;
    struct Module {
        std::string name;
        int firstCode = 0;
        std::vector<std::string> texts;
    };
    mutable std::mutex mutex_;  // guards modules_
    std::vector<Module> modules_;
};

}  // namespace tessura
