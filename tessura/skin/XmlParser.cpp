#include "XmlParser.h"

#include "CheckedFormat.h"
#include "TextCase.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

namespace tessura {

const XmlElement* XmlElement::child(std::string_view childName) const {
    for (const XmlElement& c : children) {
        if (equalsNoCase(c.name, childName)) return &c;
    }
    return nullptr;
}

const std::string* XmlElement::attribute(std::string_view attributeName) const {
    for (const XmlAttribute& a : attributes) {
        if (equalsNoCase(a.name, attributeName)) return &a.value;
    }
    return nullptr;
}

std::vector<std::string> XmlParser::ErrorTexts() {
    return {
        "open/close tags do not have equal count, tag on line %d of file %s still open",
        "XML code ends with an open tag, tag started on line %d of file %s",
        "close tags can't have parameters, tag closed on line %d of file %s",
        "close tag has different name to open tag, tag opened on line %d of file %s",
        "attribute in tag has no name on line %d of file %s",
        "tag does not have valid syntax on line %d of file %s",
        "entity tag does not have valid syntax on line %d of file %s",
        "special tag is unrecognised on line %d of file %s",
        "close tag type doesn't match open tag type on line %d of file %s",
        "tags are nested too deeply on line %d of file %s",
        "entities expand to too much text on line %d of file %s",
    };
}

XmlParser::XmlParser(std::shared_ptr<ErrorService> errors) : errors_(std::move(errors)) {
    if (errors_ && !errors_->hasModule(kModuleName)) {
        errors_->registerModule(kModuleName, kErrUnequalCount, ErrorTexts());
    }
}

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool isNameChar(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void appendUtf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A character reference's value ("#65", "#x41"), or 0 when it is not a valid character.
unsigned long characterReference(std::string_view body) {
    if (body.size() < 2 || body[0] != '#') return 0;
    const bool hex = body[1] == 'x' || body[1] == 'X';
    std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return 0;
    unsigned long code = 0;
    for (char c : digits) {
        int v = -1;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (hex && c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F') v = c - 'A' + 10;
        if (v < 0) return 0;
        code = code * (hex ? 16 : 10) + static_cast<unsigned long>(v);
    }
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return code;
}

class Reader {
  public:
    Reader(std::string_view text, XmlElement& document) : text_(text) {
        document = XmlElement{};
        stack_.push_back(std::move(document));
        document_ = &document;
    }

    // 0 on success, else the error code with errorLine_ set.
    int run() {
        while (pos_ < text_.size()) {
            const int result = text_[pos_] == '<' ? markup() : characters();
            if (result != 0) return result;
        }
        if (stack_.size() > 1) {
            errorLine_ = stack_.back().line;
            return XmlParser::kErrEndsInOpenTag;
        }
        *document_ = std::move(stack_.front());
        return 0;
    }

    int errorLine() const { return errorLine_; }

  private:
    bool startsWith(std::string_view prefix) const {
        return text_.substr(pos_, prefix.size()) == prefix;
    }

    // Moves past `count` characters, counting line breaks (CR LF, CR or LF).
    void advance(std::size_t count) {
        const std::size_t end = std::min(text_.size(), pos_ + count);
        for (; pos_ < end; ++pos_) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
            } else if (c == '\r' && (pos_ + 1 >= text_.size() || text_[pos_ + 1] != '\n')) {
                ++line_;
            }
        }
    }

    void skipBlanks() {
        while (pos_ < text_.size() && isBlank(text_[pos_])) advance(1);
    }

    std::string readName() {
        const std::size_t start = pos_;
        if (pos_ < text_.size() && isNameStart(text_[pos_])) {
            while (pos_ < text_.size() && isNameChar(text_[pos_])) ++pos_;
        }
        return std::string(text_.substr(start, pos_ - start));
    }

    // Text goes to the open element; text outside every element is dropped.
    void addText(std::string_view piece, int pieceLine) {
        if (stack_.size() < 2) return;
        XmlElement& open = stack_.back();
        if (open.textLine == 0) {
            for (char c : piece) {
                if (!isBlank(c)) {
                    open.textLine = pieceLine;
                    break;
                }
            }
        }
        open.text += piece;
    }

    int characters() {
        std::string piece;
        const int startLine = line_;
        while (pos_ < text_.size() && text_[pos_] != '<') {
            if (text_[pos_] == '&') {
                if (const int result = reference(piece)) return result;
                continue;
            }
            piece += text_[pos_];
            advance(1);
        }
        addText(piece, startLine);
        return 0;
    }

    int reference(std::string& piece) {
        // References are short: the ';' is looked for nearby only, so text full of '&' stays
        // linear to read.
        const std::size_t near = text_.substr(pos_, 35).find(';');
        const std::size_t semicolon = near == std::string_view::npos ? near : pos_ + near;
        if (semicolon == std::string_view::npos) {
            piece += '&';
            advance(1);
            return 0;
        }
        const std::string_view body = text_.substr(pos_ + 1, semicolon - pos_ - 1);
        std::string replacement;
        static const std::array<std::pair<std::string_view, char>, 5> kPredefined = {
            {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}}};
        bool known = false;
        for (const auto& [name, c] : kPredefined) {
            if (body == name) {
                replacement = std::string(1, c);
                known = true;
            }
        }
        if (!known) {
            if (const unsigned long code = characterReference(body)) {
                appendUtf8(replacement, code);
                known = true;
            } else if (const auto found = entities_.find(std::string(body)); found != entities_.end()) {
                // Declared values are used as written, never expanded again: no recursion.
                replacement = found->second;
                known = true;
            }
        }
        if (!known) {
            piece += '&';
            advance(1);
            return 0;
        }
        expanded_ += replacement.size();
        if (expanded_ > XmlParser::kMaxExpansion) {
            errorLine_ = line_;
            return XmlParser::kErrEntityExpansion;
        }
        piece += replacement;
        advance(semicolon + 1 - pos_);
        return 0;
    }

    // Skips to just past `terminator`; false (with the position at the end) when it is missing.
    bool skipPast(std::string_view terminator, std::string* content) {
        const std::size_t end = text_.find(terminator, pos_);
        if (end == std::string_view::npos) {
            advance(text_.size() - pos_);
            return false;
        }
        if (content) *content = std::string(text_.substr(pos_, end - pos_));
        advance(end + terminator.size() - pos_);
        return true;
    }

    // Processing instructions, comments and CDATA sections: skipped to their end, which must
    // be there. A CDATA section's content becomes text.
    int delimited(std::string_view opening, std::string_view closing, int tagLine, bool isText) {
        advance(opening.size());
        std::string content;
        if (!skipPast(closing, isText ? &content : nullptr)) {
            errorLine_ = tagLine;
            return XmlParser::kErrTagSyntax;
        }
        if (isText) addText(content, tagLine);
        return 0;
    }

    int markup() {
        const int tagLine = line_;
        if (startsWith("<?")) return delimited("<?", "?>", tagLine, false);
        if (startsWith("<!--")) return delimited("<!--", "-->", tagLine, false);
        if (startsWith("<![CDATA[")) return delimited("<![CDATA[", "]]>", tagLine, true);
        if (startsWith("<!ENTITY ")) return entityDeclaration(tagLine);
        if (startsWith("<!")) {
            errorLine_ = tagLine;
            return XmlParser::kErrSpecialTag;
        }
        if (startsWith("</")) return closeTag(tagLine);
        return openTag(tagLine);
    }

    int entityDeclaration(int tagLine) {
        advance(9);
        errorLine_ = tagLine;
        skipBlanks();
        const std::string name = readName();
        if (name.empty()) return XmlParser::kErrEntitySyntax;
        skipBlanks();
        if (pos_ >= text_.size() || text_[pos_] != '"') return XmlParser::kErrEntitySyntax;
        advance(1);
        std::string value;
        if (!skipPast("\"", &value)) return XmlParser::kErrEntitySyntax;
        skipBlanks();
        if (pos_ >= text_.size() || text_[pos_] != '>') return XmlParser::kErrEntitySyntax;
        advance(1);
        if (value.size() > XmlParser::kMaxEntityValue ||
            (entities_.size() >= XmlParser::kMaxEntities && !entities_.count(name))) {
            return XmlParser::kErrEntityExpansion;
        }
        entities_.emplace(name, std::move(value));  // the first declaration holds, as in XML
        errorLine_ = 0;
        return 0;
    }

    int closeTag(int tagLine) {
        advance(2);
        errorLine_ = tagLine;
        const std::string name = readName();
        if (name.empty()) return XmlParser::kErrTagSyntax;
        skipBlanks();
        if (pos_ >= text_.size()) return XmlParser::kErrTagSyntax;
        if (text_[pos_] == '/') return XmlParser::kErrCloseTagType;
        if (text_[pos_] != '>') {
            return text_.find('>', pos_) == std::string_view::npos ? XmlParser::kErrTagSyntax
                                                                   : XmlParser::kErrCloseTagParameters;
        }
        advance(1);
        if (stack_.size() < 2) return XmlParser::kErrUnequalCount;
        if (stack_.back().name != name) {
            errorLine_ = stack_.back().line;
            return XmlParser::kErrCloseTagName;
        }
        XmlElement done = std::move(stack_.back());
        stack_.pop_back();
        stack_.back().children.push_back(std::move(done));
        errorLine_ = 0;
        return 0;
    }

    int openTag(int tagLine) {
        advance(1);
        errorLine_ = tagLine;
        XmlElement element;
        element.line = tagLine;
        element.name = readName();
        if (element.name.empty()) return XmlParser::kErrTagSyntax;
        bool empty = false;
        for (;;) {
            const std::size_t before = pos_;
            skipBlanks();
            if (pos_ >= text_.size()) return XmlParser::kErrTagSyntax;
            if (text_[pos_] == '>') {
                advance(1);
                break;
            }
            if (startsWith("/>")) {
                advance(2);
                empty = true;
                break;
            }
            if (text_[pos_] == '=' || text_[pos_] == '"') return XmlParser::kErrAttributeNoName;
            // Attributes are set apart from the name and from each other by blanks.
            if (pos_ == before) return XmlParser::kErrTagSyntax;
            XmlAttribute attribute;
            attribute.name = readName();
            if (attribute.name.empty()) return XmlParser::kErrTagSyntax;
            skipBlanks();
            if (pos_ >= text_.size() || text_[pos_] != '=') return XmlParser::kErrTagSyntax;
            advance(1);
            skipBlanks();
            if (pos_ >= text_.size() || text_[pos_] != '"') return XmlParser::kErrTagSyntax;
            advance(1);
            if (!skipPast("\"", &attribute.value)) return XmlParser::kErrTagSyntax;
            element.attributes.push_back(std::move(attribute));
        }
        if (empty) {
            stack_.back().children.push_back(std::move(element));
        } else {
            if (static_cast<int>(stack_.size()) > XmlParser::kMaxDepth) {
                return XmlParser::kErrNestingTooDeep;
            }
            stack_.push_back(std::move(element));
        }
        errorLine_ = 0;
        return 0;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
    int errorLine_ = 0;
    std::size_t expanded_ = 0;
    std::map<std::string, std::string> entities_;
    std::vector<XmlElement> stack_;  // [0] is the document
    XmlElement* document_ = nullptr;
};

}  // namespace

bool XmlParser::Parse(std::string_view text, std::string_view fileName, XmlElement& document) {
    Reader reader(text, document);
    errorCode_ = reader.run();
    errorText_.clear();
    if (errorCode_ == 0) return true;
    const std::vector<std::string> texts = ErrorTexts();
    const std::string& format = texts[static_cast<std::size_t>(kErrUnequalCount - errorCode_)];
    const FormatArg args[] = {static_cast<long long>(reader.errorLine()), fileName};
    errorText_ = formatChecked(format, args).value_or(format);
    return false;
}

}  // namespace tessura
