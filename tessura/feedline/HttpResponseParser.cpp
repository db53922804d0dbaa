#include "HttpResponseParser.h"

#include "FeedlineAbi.h"

#include <algorithm>

namespace feedline {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool containsToken(std::string_view text, std::string_view token) {
    if (token.size() > text.size()) return false;
    for (std::size_t i = 0; i + token.size() <= text.size(); ++i) {
        if (equalsIgnoringCase(text.substr(i, token.size()), token)) return true;
    }
    return false;
}

// A decimal number of at most 18 digits (no sign, no blanks inside).
std::optional<uint64_t> decimal(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A header name: visible characters other than the separators that cannot appear in one.
bool validName(std::string_view name) {
    if (name.empty()) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 32 && u < 127 && c != '(' && c != ')' && c != '"' && c != ',' && c != ';' &&
               c != '<' && c != '>' && c != '@' && c != '[' && c != ']' && c != '{' && c != '}';
    });
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

const std::string* HttpHead::find(std::string_view name) const {
    for (const HttpHeader& header : headers) {
        if (equalsIgnoringCase(header.name, name)) return &header.value;
    }
    return nullptr;
}

std::optional<std::string> streamTitleOf(std::string_view metadata) {
    static constexpr std::string_view kKey = "StreamTitle='";
    const std::size_t start = metadata.find(kKey);
    if (start == std::string_view::npos) return std::nullopt;
    std::string_view rest = metadata.substr(start + kKey.size());
    std::size_t end = rest.find("';");
    if (end == std::string_view::npos) end = rest.rfind('\'');
    if (end == std::string_view::npos) end = rest.find('\0');
    if (end != std::string_view::npos) rest = rest.substr(0, end);
    // NULs and line breaks have no place in a title.
    std::string title;
    for (char c : rest) {
        if (c == '\0') break;
        title += (c == '\r' || c == '\n') ? ' ' : c;
    }
    return title;
}

HttpResponseParser::HttpResponseParser(HttpLimits limits) : limits_(limits) {}

HttpResponseParser::Result HttpResponseParser::fail(int code) {
    error_ = code;
    return Result::Error;
}

bool HttpResponseParser::takeStatusLine(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    const std::string_view protocol = line.substr(0, space);
    if (protocol == "ICY") {
        head_.protocol = HttpHead::Protocol::Icy;
    } else if (protocol.size() == 8 && protocol.substr(0, 7) == "HTTP/1.") {
        head_.protocol = protocol[7] == '0' ? HttpHead::Protocol::Http10 : HttpHead::Protocol::Http11;
    } else {
        return false;
    }
    std::string_view rest = line.substr(space + 1);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.size() < 3) return false;
    int status = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (rest[i] < '0' || rest[i] > '9') return false;
        status = status * 10 + (rest[i] - '0');
    }
    if (rest.size() > 3 && rest[3] != ' ') return false;
    if (status < 100) return false;
    head_.status = status;
    head_.reason = std::string(trimBlanks(rest.substr(3)));
    return true;
}

bool HttpResponseParser::takeHeaderLine(std::string_view line) {
    if (line.front() == ' ' || line.front() == '\t') {
        // A folded continuation of the previous header.
        if (head_.headers.empty()) return false;
        std::string& value = head_.headers.back().value;
        const std::string_view more = trimBlanks(line);
        if (!more.empty()) {
            if (!value.empty()) value += ' ';
            value.append(more);
        }
        return true;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view name = trimBlanks(line.substr(0, colon));
    if (!validName(name)) return false;
    if (head_.headers.size() >= limits_.maxHeaderCount) return false;
    head_.headers.push_back({std::string(name), std::string(trimBlanks(line.substr(colon + 1)))});
    return true;
}

bool HttpResponseParser::configureBody() {
    if (head_.protocol != HttpHead::Protocol::Icy) {
        if (const std::string* coding = head_.find("Transfer-Encoding")) {
            chunked_ = containsToken(*coding, "chunked");
        }
    }
    if (!chunked_) {
        if (const std::string* length = head_.find("Content-Length")) {
            contentLength_ = decimal(*length);
            if (!contentLength_) return false;
            entityLeft_ = *contentLength_;
        }
    }
    if (const std::string* interval = head_.find("icy-metaint")) {
        const std::optional<uint64_t> value = decimal(trimBlanks(*interval));
        if (!value || *value > limits_.maxMetaInterval) return false;
        metaInterval_ = static_cast<uint32_t>(*value);
        audioLeft_ = metaInterval_;
    }
    // 1xx, 204 and 304 responses carry no body.
    if (head_.status < 200 || head_.status == 204 || head_.status == 304) bodyDone_ = true;
    if (contentLength_ && *contentLength_ == 0) bodyDone_ = true;
    return true;
}

HttpResponseParser::Result HttpResponseParser::feedHead(const uint8_t* data, std::size_t size,
                                                        std::size_t& consumed) {
    consumed = 0;
    if (error_ != 0) return Result::Error;
    if (headDone_) return Result::Done;
    while (consumed < size) {
        const char c = static_cast<char>(data[consumed++]);
        if (++headBytes_ > limits_.maxHeadBytes) return fail(FEEDLINE_RESPONSE_TOO_LARGE);
        if (c != '\n') {
            if (line_.size() >= limits_.maxLineBytes) return fail(FEEDLINE_RESPONSE_TOO_LARGE);
            line_ += c;
            continue;
        }
        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        if (line_.find('\0') != std::string::npos) return fail(FEEDLINE_MALFORMED_RESPONSE);
        if (!sawStatus_) {
            // Blank lines before the status line are tolerated (bounded by the head limit).
            if (!line_.empty()) {
                if (!takeStatusLine(line_)) return fail(FEEDLINE_MALFORMED_RESPONSE);
                sawStatus_ = true;
            }
        } else if (line_.empty()) {
            headDone_ = true;
            line_.clear();
            line_.shrink_to_fit();
            if (!configureBody()) return fail(FEEDLINE_MALFORMED_RESPONSE);
            return Result::Done;
        } else if (!takeHeaderLine(line_)) {
            return fail(head_.headers.size() >= limits_.maxHeaderCount ? FEEDLINE_RESPONSE_TOO_LARGE
                                                                      : FEEDLINE_MALFORMED_RESPONSE);
        }
        line_.clear();
    }
    return Result::NeedMore;
}

void HttpResponseParser::takeMetadata() {
    std::optional<std::string> title = streamTitleOf(metadata_);
    if (title && (!title_ || *title_ != *title)) {
        title_ = std::move(title);
        titleChanged_ = true;
    }
    metadata_.clear();
}

void HttpResponseParser::deliverEntity(const uint8_t* data, std::size_t size, std::string& audio) {
    if (contentLength_) {
        size = static_cast<std::size_t>(std::min<uint64_t>(size, entityLeft_));
        entityLeft_ -= size;
        if (entityLeft_ == 0) bodyDone_ = true;
    }
    if (metaInterval_ == 0) {
        audio.append(reinterpret_cast<const char*>(data), size);
        return;
    }
    std::size_t at = 0;
    while (at < size) {
        if (inMetadata_) {
            const std::size_t take = std::min(metaLeft_, size - at);
            metadata_.append(reinterpret_cast<const char*>(data + at), take);
            at += take;
            metaLeft_ -= take;
            if (metaLeft_ == 0) {
                inMetadata_ = false;
                takeMetadata();
                audioLeft_ = metaInterval_;
            }
        } else if (awaitingMetaLength_) {
            metaLeft_ = static_cast<std::size_t>(data[at++]) * 16;
            awaitingMetaLength_ = false;
            if (metaLeft_ == 0) {
                audioLeft_ = metaInterval_;
            } else {
                inMetadata_ = true;
            }
        } else {
            const std::size_t take = std::min<std::size_t>(audioLeft_, size - at);
            audio.append(reinterpret_cast<const char*>(data + at), take);
            at += take;
            audioLeft_ -= static_cast<uint32_t>(take);
            if (audioLeft_ == 0) awaitingMetaLength_ = true;
        }
    }
}

HttpResponseParser::Result HttpResponseParser::decodeChunked(const uint8_t* data, std::size_t size,
                                                             std::string& audio) {
    std::size_t at = 0;
    while (at < size && chunkState_ != ChunkState::Done) {
        switch (chunkState_) {
        case ChunkState::Data: {
            const std::size_t take = static_cast<std::size_t>(std::min<uint64_t>(chunkLeft_, size - at));
            deliverEntity(data + at, take, audio);
            at += take;
            chunkLeft_ -= take;
            if (chunkLeft_ == 0) chunkState_ = ChunkState::DataEnd;
            break;
        }
        case ChunkState::DataEnd:
        case ChunkState::Size:
        case ChunkState::Trailer: {
            const char c = static_cast<char>(data[at++]);
            if (chunkState_ == ChunkState::Trailer && ++trailerBytes_ > limits_.maxTrailerBytes) {
                return fail(FEEDLINE_RESPONSE_TOO_LARGE);
            }
            if (c != '\n') {
                if (line_.size() >= limits_.maxLineBytes) return fail(FEEDLINE_RESPONSE_TOO_LARGE);
                line_ += c;
                break;
            }
            if (!line_.empty() && line_.back() == '\r') line_.pop_back();
            if (chunkState_ == ChunkState::DataEnd) {
                // The line break after a chunk's data.
                if (!line_.empty()) return fail(FEEDLINE_MALFORMED_RESPONSE);
                chunkState_ = ChunkState::Size;
            } else if (chunkState_ == ChunkState::Trailer) {
                if (line_.empty()) {
                    chunkState_ = ChunkState::Done;
                    bodyDone_ = true;
                }
            } else {
                std::string_view text = trimBlanks(line_);
                text = text.substr(0, text.find(';'));
                text = trimBlanks(text);
                if (text.empty() || text.size() > 15) return fail(FEEDLINE_MALFORMED_RESPONSE);
                uint64_t value = 0;
                for (char digit : text) {
                    const int v = hexDigit(digit);
                    if (v < 0) return fail(FEEDLINE_MALFORMED_RESPONSE);
                    value = value * 16 + static_cast<uint64_t>(v);
                }
                chunkLeft_ = value;
                chunkState_ = value == 0 ? ChunkState::Trailer : ChunkState::Data;
            }
            line_.clear();
            break;
        }
        case ChunkState::Done:
            break;
        }
    }
    return bodyDone_ ? Result::Done : Result::NeedMore;
}

HttpResponseParser::Result HttpResponseParser::feedBody(const uint8_t* data, std::size_t size,
                                                        std::string& audio) {
    if (error_ != 0) return Result::Error;
    if (!headDone_) return fail(FEEDLINE_NOT_OPEN);
    if (bodyDone_) return Result::Done;
    if (chunked_) return decodeChunked(data, size, audio);
    deliverEntity(data, size, audio);
    return bodyDone_ ? Result::Done : Result::NeedMore;
}

bool HttpResponseParser::completeAtEnd() const {
    if (error_ != 0 || !headDone_) return false;
    if (bodyDone_) return true;
    return !chunked_ && !contentLength_;
}

bool HttpResponseParser::takeTitleChange(std::string& title) {
    if (!titleChanged_ || !title_) return false;
    title = *title_;
    titleChanged_ = false;
    return true;
}

}  // namespace feedline
