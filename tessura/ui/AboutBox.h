#pragma once
// The about box: the skin's splash picture (or, without one, the skin's own colours) with the
// program's title, version and build date, the skin's title and author, and a Close button.
#include <QDialog>
#include <functional>
#include <string>

namespace tessura::ui {

class SkinFace;

struct AboutDetails {
    std::string version, buildDate;
    std::string skinTitle, skinAuthor;
};

class AboutBox final : public QDialog {
  public:
    using Text = std::function<std::string(const std::string& key)>;
    AboutBox(const SkinFace& face, const AboutDetails& details, const Text& text, QWidget* parent = nullptr);

    // The lines the box shows, top to bottom (for the tests and for reading it out).
    const QStringList& lines() const { return lines_; }

  private:
    QStringList lines_;
};

}  // namespace tessura::ui
