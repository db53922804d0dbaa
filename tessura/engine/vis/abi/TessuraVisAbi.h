/* The tessura visualisation plug-in interface: the record a plug-in's QueryModule returns and
 * the host-variable interface the player offers to plug-ins of version 2 or later.
 *
 * A visualisation plug-in is a shared object named *.tvp in the program folder's vis/. Fields
 * keep the order of the original 32-bit layout; on a 32-bit build their offsets equal that
 * layout (checked below). Widths are native. Texts are UTF-8 and NUL-terminated.
 *
 * The visualisation-data block handed to the render entry (TESSURA_VIS_BLOCK_BYTES long):
 *   0     int32 header (milliseconds of sound heard when the block was made)
 *   4     512 signed 8-bit samples of the left channel
 *   516   512 signed 8-bit samples of the right channel
 *   1028  256 spectrum magnitudes (0-255) of the left channel, lowest frequency first
 *   1284  256 spectrum magnitudes of the right channel
 * Pixels are 32 bits, 0xAARRGGBB; the pitch is counted in pixels.
 */
#ifndef TESSURA_VIS_ABI_H
#define TESSURA_VIS_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TESSURA_VIS_EXPORT __attribute__((visibility("default")))
#else
#define TESSURA_VIS_EXPORT
#endif

#define TESSURA_VIS_BLOCK_BYTES 1540
#define TESSURA_VIS_LEFT_SAMPLES 4
#define TESSURA_VIS_RIGHT_SAMPLES 516
#define TESSURA_VIS_SAMPLES 512
#define TESSURA_VIS_LEFT_SPECTRUM 1028
#define TESSURA_VIS_RIGHT_SPECTRUM 1284
#define TESSURA_VIS_SPECTRUM_BINS 256

/* Record flags. */
#define VIS_FLAG_HOST_EFFECTS 0x04 /* the host applies its background effects before render */

/* The first version that receives the host-variable interface. */
#define VIS_VERSION_HOST_VARIABLES 2

typedef struct HostVariables HostVariables;
typedef struct HostVariablesTable {
    /* Nonzero when the name is known; the value in *value. */
    int32_t (*QueryInt)(HostVariables* self, const char* name, int32_t* value);
    /* A new text the caller releases with FreeString, or null for an unknown name. */
    char* (*QueryString)(HostVariables* self, const char* name);
    void (*FreeString)(HostVariables* self, char* text);
} HostVariablesTable;
struct HostVariables {
    const HostVariablesTable* table;
};

/* Owned by the plug-in; it stays valid while the library is loaded. Every entry may be null. */
typedef struct VisPluginRecord {
    int32_t version;                                 /*  0 */
    const char* name;                                /*  4 */
    int32_t flags;                                   /*  8 */
    int32_t (*Initialise)(void);                     /* 12: once, before the first frame */
    int32_t (*Render)(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch,
                      const uint8_t* visData);       /* 16 */
    int32_t (*Message)(uint32_t message);            /* 20 */
    int32_t (*Settings)(const char* visIniPath);     /* 24 */
    void* reserved28;                                /* 28 */
    void* reserved32;                                /* 32 */
    void (*SetHostVariables)(HostVariables* host);   /* 36: once after Initialise, version >= 2 */
} VisPluginRecord;

/* The one export of a visualisation plug-in. */
typedef const VisPluginRecord* (*QueryModuleFunction)(void);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#if defined(__cplusplus) && UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(VisPluginRecord, name) == 4, "VisPluginRecord layout");
static_assert(offsetof(VisPluginRecord, flags) == 8, "VisPluginRecord layout");
static_assert(offsetof(VisPluginRecord, Initialise) == 12, "VisPluginRecord layout");
static_assert(offsetof(VisPluginRecord, Render) == 16, "VisPluginRecord layout");
static_assert(offsetof(VisPluginRecord, Settings) == 24, "VisPluginRecord layout");
static_assert(offsetof(VisPluginRecord, SetHostVariables) == 36, "VisPluginRecord layout");
#endif
#if defined(__cplusplus)
static_assert(offsetof(VisPluginRecord, SetHostVariables) == 9 * sizeof(void*), "VisPluginRecord order");
#endif

#endif /* TESSURA_VIS_ABI_H */
