#pragma once
// The project's two skins as the build made them, and what the skin tests need around them: a
// program folder holding them, a dialog service that records what it was asked, and archives
// rebuilt from a real skin with members changed.
#include "AtomicFile.h"
#include "DialogService.h"
#include "SkinArchive.h"
#include "SkinArchiveWriter.h"
#include "TempFolder.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace tessura::test {

inline std::string DefaultSkinBytes() {
    std::string bytes;
    readWholeFile(TESSURA_DEFAULT_SKIN_FILE, bytes);
    return bytes;
}
inline std::string SecondSkinBytes() {
    std::string bytes;
    readWholeFile(TESSURA_SECOND_SKIN_FILE, bytes);
    return bytes;
}

// Every named member of `archive` in directory order, as test members (unpacked, so damage can
// be applied to the bytes or the fields).
inline std::vector<TestMember> MembersOf(const std::string& archiveBytes) {
    std::vector<TestMember> members;
    const auto archive = SkinArchive::FromBytes(archiveBytes);
    if (!archive) return members;
    for (std::size_t i = 0; i < archive->Entries().size(); ++i) {
        const auto data = archive->ReadEntry(i);
        if (!data) continue;
        members.emplace_back(archive->Entries()[i].name, std::string(data->begin(), data->end()), true);
    }
    return members;
}

inline TestMember& Find(std::vector<TestMember>& members, const std::string& name) {
    for (TestMember& m : members)
        if (m.name == name) return m;
    static TestMember missing("", "");
    ADD_FAILURE() << "the skin has no member " << name;
    return missing;
}

inline void Remove(std::vector<TestMember>& members, const std::string& name) {
    std::erase_if(members, [&](const TestMember& m) { return m.name == name; });
}

// Answers by text key (a missing key gets the safe answer) and keeps every request.
class RecordingDialogs final : public DialogService {
  public:
    std::map<std::string, Answer> answers;
    std::vector<MessageRequest> asked;

    Answer message(const MessageRequest& request) override {
        asked.push_back(request);
        const auto it = answers.find(request.textKey);
        return it != answers.end() ? it->second : safeAnswer(request.buttons);
    }
    std::vector<std::string> chooseFiles(const FileRequest&) override { return {}; }
    std::optional<std::string> askText(const TextRequest&) override { return std::nullopt; }

    bool askedFor(const std::string& textKey) const {
        for (const MessageRequest& r : asked)
            if (r.textKey == textKey) return true;
        return false;
    }
};

}  // namespace tessura::test
