#pragma once
// Which window mode is shown, and the rules of the mode-switch message: the same mode again
// only hands the navigator its page, any other hides every mode and shows the one asked for,
// -1 shows the current one again; modes 1-3 are remembered as WindowState and the navigator's
// page as NavWindowState. The modes themselves are behind ModeHost.
namespace tessura::ui {

enum WindowMode { kNoMode = 0, kMidMode = 1, kNavigatorMode = 2, kSmallMode = 3, kSplashMode = 4, kFullScreenMode = 5 };
inline constexpr int kRebuildMode = -1;
inline constexpr int kNavigatorPages = 12;
// Page codes outside 0-11 (255, 0xFFFF, 0xFFFD, -1, -2) keep the navigator's current page.
constexpr bool IsNavigatorPage(int page) { return page >= 0 && page < kNavigatorPages; }

class ModeHost {
  public:
    virtual ~ModeHost() = default;
    virtual void hideAllModes() = 0;
    virtual void showMode(int mode, int page) = 0;
    virtual void passNavigatorPage(int page) = 0;  // 0x8207 to the navigator's window
    virtual void applyTopMost() = 0;
    virtual void clearStatus() = 0;
};

struct ModeRequest {
    int mode = kMidMode;
    int page = 0;
};

class ModeSwitch {
  public:
    ModeSwitch(ModeHost& host, int windowState, int navPage);

    // The message 0x8217 with mode `mode` and page `page`. False for a mode that does not exist.
    bool request(int mode, int page);
    // The navigator turned to a page of its own accord (its tabs, its up/down buttons).
    void notePage(int page);

    int current() const { return current_; }
    int windowState() const { return windowState_; }
    int navPage() const { return navPage_; }
    int pageToShow(int page) const { return IsNavigatorPage(page) ? page : navPage_; }

  private:
    ModeHost& host_;
    int current_ = kNoMode;
    int windowState_;
    int navPage_;
};

}  // namespace tessura::ui
