#pragma once
// The small XML dialect of language files (and of whatever else the program reads as XML).
//
// Elements with '"'-quoted attributes, empty-element tags, close tags, processing instructions,
// comments, CDATA sections and entity declarations; any other "<!" construct is an error. In
// text, the five predefined entities, character references and declared entities are replaced;
// an unknown reference stays as written. Attribute values are taken as written. Nesting depth and
// the text that entity references may produce are bounded, so a hostile file cannot exhaust the
// stack or memory.
#include "ErrorService.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessura {

struct XmlAttribute {
    std::string name, value;
};

struct XmlElement {
    std::string name;
    std::vector<XmlAttribute> attributes;
    std::string text;
    std::vector<XmlElement> children;
    int line = 0;      // where the element's tag opened
    int textLine = 0;  // where its text's first non-blank character stands (0: none)

    // First child / attribute of that name (without regard to case); nullptr when none.
    const XmlElement* child(std::string_view childName) const;
    const std::string* attribute(std::string_view attributeName) const;
};

class XmlParser {
  public:
    static constexpr const char* kModuleName = "XML Parser";
    // Codes of the error texts, in the order registered.
    static constexpr int kErrUnequalCount = -201;
    static constexpr int kErrEndsInOpenTag = -202;
    static constexpr int kErrCloseTagParameters = -203;
    static constexpr int kErrCloseTagName = -204;
    static constexpr int kErrAttributeNoName = -205;
    static constexpr int kErrTagSyntax = -206;
    static constexpr int kErrEntitySyntax = -207;
    static constexpr int kErrSpecialTag = -208;
    static constexpr int kErrCloseTagType = -209;
    static constexpr int kErrNestingTooDeep = -210;
    static constexpr int kErrEntityExpansion = -211;

    static constexpr int kMaxDepth = 256;
    static constexpr std::size_t kMaxEntities = 256;
    static constexpr std::size_t kMaxEntityValue = 4096;
    static constexpr std::size_t kMaxExpansion = 1 << 20;  // bytes produced by references

    explicit XmlParser(std::shared_ptr<ErrorService> errors = nullptr);

    // Parses `text`; the top-level elements become the children of `document` (an element
    // without a name). False on an error, whose code and formatted text are then kept.
    bool Parse(std::string_view text, std::string_view fileName, XmlElement& document);

    int ErrorCode() const { return errorCode_; }
    const std::string& ErrorText() const { return errorText_; }

    // The unformatted texts ("... on line %d of file %s"), for the error service.
    static std::vector<std::string> ErrorTexts();

  private:
    std::shared_ptr<ErrorService> errors_;
    int errorCode_ = 0;
    std::string errorText_;
};

}  // namespace tessura
