// The two exports of Feedline.so and the instance table over FeedlineStream. Nothing throws
// across the boundary: a failed allocation becomes an error result.
#include "FeedlineAbi.h"
#include "FeedlineStream.h"

#include <cstdlib>
#include <new>

#if defined(__GNUC__)
#define FEEDLINE_EXPORT __attribute__((visibility("default")))
#else
#define FEEDLINE_EXPORT
#endif

namespace {

using feedline::FeedlineStream;

// The instance as the caller sees it (its first member) and the stream behind it.
struct InstanceBox {
    FeedlineInstance base;
    FeedlineStream* stream;
};

FeedlineStream* streamOf(FeedlineInstance* self) {
    return self != nullptr ? reinterpret_cast<InstanceBox*>(self)->stream : nullptr;
}

void reserved0(FeedlineInstance*) {}

void release(FeedlineInstance* self) {
    if (self == nullptr) return;
    auto* box = reinterpret_cast<InstanceBox*>(self);
    delete box->stream;
    delete box;
}

int32_t version(FeedlineInstance*) { return FEEDLINE_VERSION; }

int32_t status(FeedlineInstance* self, int32_t which) {
    FeedlineStream* s = streamOf(self);
    return s != nullptr ? s->status(which) : FEEDLINE_BAD_ARGUMENT;
}

int32_t closeStream(FeedlineInstance* self, int) {
    FeedlineStream* s = streamOf(self);
    return s != nullptr ? s->close() : FEEDLINE_BAD_ARGUMENT;
}

int32_t readStream(FeedlineInstance* self, void* buffer, int32_t size, int32_t count, int cancel) {
    FeedlineStream* s = streamOf(self);
    if (s == nullptr || size < 0 || count < 0) return FEEDLINE_BAD_ARGUMENT;
    const long long wanted = static_cast<long long>(size) * count;
    try {
        return s->read(buffer, static_cast<std::size_t>(wanted > INT32_MAX ? INT32_MAX : wanted), cancel);
    } catch (...) {
        return FEEDLINE_CONNECTION_LOST;
    }
}

int32_t setRequestHeader(FeedlineInstance* self, const char* name, const char* value) {
    FeedlineStream* s = streamOf(self);
    if (s == nullptr) return FEEDLINE_BAD_ARGUMENT;
    try {
        return s->setRequestHeader(name, value);
    } catch (...) {
        return FEEDLINE_BAD_ARGUMENT;
    }
}

int32_t removeRequestHeader(FeedlineInstance* self, const char* name) {
    FeedlineStream* s = streamOf(self);
    return s != nullptr ? s->removeRequestHeader(name) : FEEDLINE_BAD_ARGUMENT;
}

int32_t openStream(FeedlineInstance* self, const char* url, int32_t bufferKb, const char* protocol,
                   int32_t flags, int32_t timeoutMs, const FeedlineProxy* proxy, int cancel,
                   FeedlineEventCallback callback, char** text) {
    FeedlineStream* s = streamOf(self);
    if (s == nullptr || flags != 0) return FEEDLINE_BAD_ARGUMENT;
    try {
        return s->open(url, bufferKb, protocol, timeoutMs, proxy, cancel, callback, text);
    } catch (...) {
        s->close();
        return FEEDLINE_CONNECTION_LOST;
    }
}

int32_t responseHeader(FeedlineInstance* self, const char* name, char* buffer, int32_t size) {
    FeedlineStream* s = streamOf(self);
    return s != nullptr ? s->responseHeader(name, buffer, size) : -1;
}

int socketOf(FeedlineInstance* self) {
    FeedlineStream* s = streamOf(self);
    return s != nullptr ? s->socket() : -1;
}

void* userSlot(FeedlineInstance* self) {
    FeedlineStream* s = streamOf(self);
    return s != nullptr ? s->userSlot() : nullptr;
}

void setUserSlot(FeedlineInstance* self, void* value) {
    if (FeedlineStream* s = streamOf(self)) s->setUserSlot(value);
}

void freeText(FeedlineInstance*, char* text) { std::free(text); }

const FeedlineInstanceTable kTable = {
    reserved0,    release,          version,    status,     closeStream, readStream,
    setRequestHeader, removeRequestHeader, openStream, responseHeader, socketOf, userSlot,
    setUserSlot,  freeText,
};

const char* const kErrorTexts[FEEDLINE_ERROR_COUNT] = {
    "The stream was cancelled",
    "The stream address is not a valid http:// address",
    "The server's name could not be resolved",
    "Could not connect to the server",
    "The server did not answer in time",
    "The request could not be sent",
    "The server's response is malformed",
    "The server's response is too large",
    "Too many redirections",
    "The server refused the request",
    "The connection was lost",
    "The stream is not open",
    "Invalid parameter",
};

}  // namespace

extern "C" FEEDLINE_EXPORT int32_t ProvideErrorSystem(FeedlineErrorSystem* errors) {
    if (errors == nullptr || errors->table == nullptr || errors->table->register_codes == nullptr) {
        return FEEDLINE_BAD_ARGUMENT;
    }
    errors->table->register_codes(errors, "Feedline", FEEDLINE_FIRST_ERROR, kErrorTexts,
                                  FEEDLINE_ERROR_COUNT);
    return FEEDLINE_OK;
}

extern "C" FEEDLINE_EXPORT int32_t NewStreamInstance(FeedlineInstance** instance, int32_t flags,
                                                      int32_t interfaceVersion) {
    if (instance == nullptr) return FEEDLINE_BAD_ARGUMENT;
    *instance = nullptr;
    if (flags != 0 || interfaceVersion != FEEDLINE_VERSION) return FEEDLINE_BAD_ARGUMENT;
    auto* stream = new (std::nothrow) FeedlineStream();
    auto* box = new (std::nothrow) InstanceBox{{&kTable}, stream};
    if (stream == nullptr || box == nullptr) {
        delete stream;
        delete box;
        return FEEDLINE_BAD_ARGUMENT;
    }
    stream->bind(&box->base);
    *instance = &box->base;
    return FEEDLINE_OK;
}
