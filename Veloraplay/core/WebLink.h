#pragma once
// Opening a web address in the user's browser, from the about box and the library window.
// Addresses may be written without a scheme ("www.host/page"); the scheme is guessed the way
// a browser's address bar does. Only web and mail addresses are opened: whatever reaches the
// viewer always starts with one of the allowed schemes, so it can never be taken for a local
// file or a command-line option of the viewer.
#include "DialogService.h"
#include "Processes.h"

#include <optional>
#include <string>

namespace veloraplay {

// The message shown when the address cannot be opened: this text, the address as given, then
// kBrowserProblemTail.
inline constexpr char kBrowserProblemText[] =
    "There appears to be a configuration problem with your web browser.\nPlease visit ";
inline constexpr char kBrowserProblemTail[] = " on the internet.";
std::string browserProblemText(const std::string& address);

// The address as it is handed to the browser, or nothing when it is refused.
//  - refused: empty, any blank or control character, a scheme other than http, https, ftp
//    and mailto, a web scheme without "//" and a host, "mailto:" with nothing after it, and
//    an address without a scheme that does not start with a letter or digit;
//  - with an allowed scheme: kept as it stands (the scheme's case included);
//  - without a scheme: "ftp." at the start gives "ftp://" + address (the host keeps its
//    name), "name@host" with no '/' gives "mailto:" + address, anything else gets "http://".
//    A host with a port ("host:8080/x") counts as having no scheme.
std::optional<std::string> browserAddress(const std::string& address);

class WebLink {
  public:
    WebLink(Launcher& launcher, DialogService& dialogs);

    // Opens the address in the user's browser; when it is refused or no browser could be
    // started, shows the message box with browserProblemText. Returns whether it opened.
    bool open(const std::string& address);

  private:
    Launcher& launcher_;
    DialogService& dialogs_;
};

}  // namespace veloraplay
