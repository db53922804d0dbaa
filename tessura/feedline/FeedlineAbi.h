/* The interface of Feedline, tessura's internet-stream library (system/Feedline.so, loaded at
 * run time). The library exports two functions:
 *
 *   ProvideErrorSystem(errors)              the player's error-reporting object, given once
 *   NewStreamInstance(&instance, 0, 257)    a new stream instance; 0 = success
 *
 * A stream instance is a struct whose first member points at its table of functions; every
 * function takes the instance first. Slots 1, 3, 4, 5 and 8 are the calls the player's stream
 * reader is built on; the rest serve its headers and title channel.
 *
 * Cancellation: every call that can wait takes a cancel descriptor (an eventfd or the read end
 * of a pipe, owned by the caller, or -1 for none). Once it is readable the call gives up at
 * once and returns FEEDLINE_CANCELLED; the library never reads from it, so it stays signalled.
 *
 * Texts are UTF-8 and NUL-terminated. Results below 0 are error codes, registered with the
 * error system under the module name "Feedline".
 */
#ifndef TESSURA_FEEDLINE_ABI_H
#define TESSURA_FEEDLINE_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FEEDLINE_VERSION 257

#define FEEDLINE_OK 0
/* The library's error codes, first to last (each one below the previous). */
#define FEEDLINE_FIRST_ERROR (-1100)
#define FEEDLINE_CANCELLED (-1100)
#define FEEDLINE_BAD_URL (-1101)
#define FEEDLINE_RESOLVE_FAILED (-1102)
#define FEEDLINE_CONNECT_FAILED (-1103)
#define FEEDLINE_TIMED_OUT (-1104)
#define FEEDLINE_SEND_FAILED (-1105)
#define FEEDLINE_MALFORMED_RESPONSE (-1106)
#define FEEDLINE_RESPONSE_TOO_LARGE (-1107)
#define FEEDLINE_TOO_MANY_REDIRECTS (-1108)
#define FEEDLINE_HTTP_STATUS (-1109)
#define FEEDLINE_CONNECTION_LOST (-1110)
#define FEEDLINE_NOT_OPEN (-1111)
#define FEEDLINE_BAD_ARGUMENT (-1112)
#define FEEDLINE_ERROR_COUNT 13

/* Event codes passed to the open call's event callback. */
#define FEEDLINE_EVENT_RESPONSE_HEADERS 11 /* the response headers of the final response are in */
#define FEEDLINE_EVENT_SENDING_REQUEST 13  /* connected; the request is about to be sent */

/* What the status query (slot 3) answers for each of its integers. */
#define FEEDLINE_STATUS_CANCELLED_CODE 0 /* the code an open or read gives when cancelled */
#define FEEDLINE_STATUS_LAST_RESULT 1    /* the result of the last open or read */
#define FEEDLINE_STATUS_HTTP_CODE 2      /* the final response's status code, 0 before one */
#define FEEDLINE_STATUS_REDIRECTS 3      /* how many redirects the last open followed */

/* The open call's timeout argument: -1 gives the library's defaults (connect 10 s, response
 * head 15 s, each read 30 s); a positive value caps each of them at that many milliseconds. */
#define FEEDLINE_DEFAULT_TIMEOUT (-1)

/* The response header under which the current title of an in-band metadata stream
 * ("icy-metaint") appears, updated as the stream goes. */
#define FEEDLINE_STREAM_TITLE_HEADER "x-audiocast-streamtitle"

/* The player's error-reporting object. */
typedef struct FeedlineErrorSystem FeedlineErrorSystem;
typedef struct FeedlineErrorSystemTable {
    /* Registers the texts of `count` codes first, first - 1, ...; nonzero when registered. */
    int32_t (*register_codes)(FeedlineErrorSystem* self, const char* module, int32_t first_code,
                              const char* const* texts, int32_t count);
} FeedlineErrorSystemTable;
struct FeedlineErrorSystem {
    const FeedlineErrorSystemTable* table;
};

/* The proxy argument of open: three texts (user and password null when not used). The proxy
 * text is "host:port" or "http://host:port". */
typedef struct FeedlineProxy {
    const char* url;
    const char* user;
    const char* password;
} FeedlineProxy;

typedef struct FeedlineInstance FeedlineInstance;
typedef void (*FeedlineEventCallback)(int32_t code, FeedlineInstance* instance);

typedef struct FeedlineInstanceTable {
    /* 0: unused by the player (the instance is released through slot 1). */
    void (*reserved0)(FeedlineInstance* self);
    /* 1: closes the connection if open and frees the instance. */
    void (*release)(FeedlineInstance* self);
    /* 2: the interface version, FEEDLINE_VERSION. */
    int32_t (*version)(FeedlineInstance* self);
    /* 3: FEEDLINE_STATUS_* queries. */
    int32_t (*status)(FeedlineInstance* self, int32_t which);
    /* 4: closes the connection; the response headers stay readable until the next open. */
    int32_t (*close)(FeedlineInstance* self, int cancel);
    /* 5: reads up to size x count bytes of the response body (transfer coding and in-band
     * metadata removed); the byte count, 0 at the end, below 0 on failure. */
    int32_t (*read)(FeedlineInstance* self, void* buffer, int32_t size, int32_t count, int cancel);
    /* 6, 7: the request-header list, sent with every request of the next open. */
    int32_t (*set_request_header)(FeedlineInstance* self, const char* name, const char* value);
    int32_t (*remove_request_header)(FeedlineInstance* self, const char* name);
    /* 8: connects and sends the request, following redirects, and reads the response head.
     * `buffer_kb` sizes the receive buffer; `protocol` is "HTTP/1.1" or "HTTP/1.0"; `flags` is
     * 0. `text`, when not null, receives a text the caller frees with slot 13 (the station
     * name, or null). FEEDLINE_OK or an error code. */
    int32_t (*open)(FeedlineInstance* self, const char* url, int32_t buffer_kb,
                    const char* protocol, int32_t flags, int32_t timeout_ms,
                    const FeedlineProxy* proxy, int cancel, FeedlineEventCallback callback,
                    char** text);
    /* 9: copies the response header `name` (any case) into `buffer` (NUL-terminated, cut to
     * size - 1 bytes); its full length, or -1 when the response has no such header. Safe to
     * call while another thread reads. */
    int32_t (*response_header)(FeedlineInstance* self, const char* name, char* buffer,
                               int32_t size);
    /* 10: the connection's TCP socket, -1 when not connected. */
    int (*socket)(FeedlineInstance* self);
    /* 11, 12: a pointer slot the caller may use (the player keeps its title channel there). */
    void* (*user_slot)(FeedlineInstance* self);
    void (*set_user_slot)(FeedlineInstance* self, void* value);
    /* 13: frees a text returned by open. */
    void (*free_text)(FeedlineInstance* self, char* text);
} FeedlineInstanceTable;

struct FeedlineInstance {
    const FeedlineInstanceTable* table;
};

typedef int32_t (*FeedlineProvideErrorSystemFn)(FeedlineErrorSystem* errors);
typedef int32_t (*FeedlineNewStreamInstanceFn)(FeedlineInstance** instance, int32_t flags,
                                               int32_t version);

#ifdef __cplusplus
}
#endif

#endif
