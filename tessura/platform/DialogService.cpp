#include "DialogService.h"

#include "TextCase.h"

namespace tessura {

bool offers(Buttons buttons, Answer answer) {
    switch (buttons) {
        case Buttons::Ok: return answer == Answer::Ok;
        case Buttons::OkCancel: return answer == Answer::Ok || answer == Answer::Cancel;
        case Buttons::YesNo: return answer == Answer::Yes || answer == Answer::No;
        case Buttons::YesNoCancel: return answer != Answer::Ok;
    }
    return false;
}

Answer safeAnswer(Buttons buttons) {
    if (offers(buttons, Answer::Cancel)) return Answer::Cancel;
    if (offers(buttons, Answer::No)) return Answer::No;
    return Answer::Ok;
}

const char* answerName(Answer answer) {
    switch (answer) {
        case Answer::Ok: return "OK";
        case Answer::Cancel: return "Cancel";
        case Answer::Yes: return "Yes";
        case Answer::No: return "No";
    }
    return "?";
}

std::optional<Answer> answerFromName(const std::string& name) {
    for (Answer a : {Answer::Ok, Answer::Cancel, Answer::Yes, Answer::No}) {
        if (equalsNoCase(name, answerName(a))) return a;
    }
    return std::nullopt;
}

}  // namespace tessura
