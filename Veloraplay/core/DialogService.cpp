#include "DialogService.h"

namespace veloraplay {

bool offers(DialogButtons buttons, DialogButton button) {
    switch (buttons) {
        case DialogButtons::Ok:
            return button == DialogButton::Ok;
        case DialogButtons::OkCancel:
            return button == DialogButton::Ok || button == DialogButton::Cancel;
        case DialogButtons::YesNo:
            return button == DialogButton::Yes || button == DialogButton::No;
        case DialogButtons::YesNoCancel:
            return button == DialogButton::Yes || button == DialogButton::No ||
                   button == DialogButton::Cancel;
        case DialogButtons::RetryCancel:
            return button == DialogButton::Retry || button == DialogButton::Cancel;
        case DialogButtons::AbortRetryIgnore:
            return button == DialogButton::Abort || button == DialogButton::Retry ||
                   button == DialogButton::Ignore;
    }
    return false;
}

DialogButton safeDefault(DialogButtons buttons) {
    if (offers(buttons, DialogButton::Cancel)) return DialogButton::Cancel;
    if (offers(buttons, DialogButton::No)) return DialogButton::No;
    if (offers(buttons, DialogButton::Abort)) return DialogButton::Abort;
    return DialogButton::Ok;
}

const char* buttonName(DialogButton button) {
    switch (button) {
        case DialogButton::Ok:
            return "OK";
        case DialogButton::Cancel:
            return "Cancel";
        case DialogButton::Yes:
            return "Yes";
        case DialogButton::No:
            return "No";
        case DialogButton::Retry:
            return "Retry";
        case DialogButton::Abort:
            return "Abort";
        case DialogButton::Ignore:
            return "Ignore";
    }
    return "?";
}

std::string withDefaultExtension(const std::string& path, const std::string& extension) {
    if (path.empty() || extension.empty()) return path;
    const size_t slash = path.rfind('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    if (name == path.size() || path.find('.', name) != std::string::npos) return path;
    return path + "." + extension;
}

}  // namespace veloraplay
