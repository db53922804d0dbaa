/* The tessura plug-in interface: every record and function table that passes between the
 * player and its input modules, output plug-ins and processor (DSP) plug-ins.
 *
 * Fields keep the order of the original 32-bit layout; on a 32-bit build their offsets equal
 * that layout (checked below). Widths are native: pointers are pointers, 32-bit words are
 * int32_t / uint32_t. An "interface" is a struct whose first member points at its table; every
 * function of a table takes the interface first. Texts are UTF-8 and NUL-terminated. Results:
 * 0 for success and nonzero (1001) for failure on output and processor tables; the input module
 * entry points return nonzero for success.
 */
#ifndef TESSURA_PLUGIN_ABI_H
#define TESSURA_PLUGIN_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TESSURA_EXPORT __attribute__((visibility("default")))
#else
#define TESSURA_EXPORT
#endif

#define TESSURA_RESULT_OK 0
#define TESSURA_RESULT_FAILED 1001

/* ---- Identifiers and the info record of output and processor plug-ins ---- */

typedef struct PluginGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
} PluginGuid;

typedef struct PluginInfo {
    const char* name;
    const char* notice;
    PluginGuid guid;
    uint32_t version;
} PluginInfo;

/* ---- Input modules ---- */

/* ModuleDescription flags. */
#define MODULE_SUPPLIES_VIS_DATA 0x02
#define MODULE_RENDERS_ITSELF 0x04
#define MODULE_HAS_SETTINGS_PAGE 0x10
#define MODULE_OPENS_SOURCES 0x20

/* What Query returns; the host copies it and its texts at once. */
typedef struct ModuleDescription {
    int32_t reserved0;
    const char* name;        /* the title of the module's settings tab */
    const char* text1;
    const char* text2;
    int32_t reserved16;
    const char* extensions;  /* "mp3\0mp2\0\0": extensions without dot, ended by an empty one */
    int32_t reserved24;
    int32_t flags;
    int32_t reserved32;
} ModuleDescription;

/* Track information a module reports; the texts belong to the module. */
typedef struct TrackInfo {
    const char* title;
    const char* streamText;   /* preset by the host to the source's stream title */
    int32_t reserved8;
    const char* infoText1;    /* joined with infoText2 by one blank */
    const char* infoText2;
    int32_t reserved20;
    int32_t lengthMs;
} TrackInfo;

/* One block of decoded PCM handed to WriteOutput. */
typedef struct WriteBlock {
    int32_t positionMs;  /* position of the block's first sample */
    int32_t unused;
    uint32_t length;     /* bytes */
    const void* data;
} WriteBlock;

/* WriteOutput / OpenOutput bits code: 1 = 8 bits, 0 = 16 bits, other values are the bit count. */
#define MODULE_BITS_8 1
#define MODULE_BITS_16 0

/* SeekSource methods, as the Win32 file pointer methods. */
#define SOURCE_SEEK_BEGIN 0
#define SOURCE_SEEK_CURRENT 1
#define SOURCE_SEEK_END 2

typedef struct InputModuleRecord InputModuleRecord;

/* The record shared by host and module (zeroed, owned by the host); its address is the first
 * argument of every module entry point. The host fills its fields before Initialise; the module
 * fills its own during Initialise. Every module field may be null. */
struct InputModuleRecord {
    void* library;                                                     /*   0 host */
    int32_t (*OpenOutput)(int32_t sampleRate, int32_t channels, int32_t bitsCode); /* 4: song id, 0 = failed */
    int32_t (*WriteOutput)(int32_t songId, const WriteBlock* block);   /*   8 host */
    int32_t (*NotifyEnd)(void);                                        /*  12 host */
    void* unset16;                                                     /*  16 */
    intptr_t (*HostRequest)(int32_t type, intptr_t argument);          /*  20 host */
    const char* settingsPath;                                          /*  24 host: "tvp.ini" */
    void* unset28;                                                     /*  28 */
    void* unset32;                                                     /*  32 */
    void* owner;                                                       /*  36 host, opaque */
    void* unset40;                                                     /*  40 */
    int32_t (*Open)(InputModuleRecord* record, const char* name);      /*  44 module */
    int32_t (*Close)(InputModuleRecord* record);                       /*  48 */
    int32_t (*Play)(InputModuleRecord* record);                        /*  52 */
    void (*Stop)(InputModuleRecord* record);                           /*  56 */
    int32_t (*Seek)(InputModuleRecord* record, int32_t milliseconds);  /*  60 */
    int32_t (*GetInfo)(InputModuleRecord* record, TrackInfo* info);    /*  64 */
    void* unused68;                                                    /*  68 */
    int32_t (*Pause)(InputModuleRecord* record, int32_t pausedNow);    /*  72 self-rendering */
    int32_t (*IsPlaying)(InputModuleRecord* record);                   /*  76 self-rendering */
    void (*SetVolume)(InputModuleRecord* record, uint32_t packedVolume); /* 80 self-rendering */
    void* unused84;                                                    /*  84 */
    int32_t (*GetVisData)(InputModuleRecord* record, void* buffer, int32_t flags); /* 88 */
    int32_t (*GetLength)(InputModuleRecord* record, int32_t* milliseconds);        /* 92 */
    int32_t (*GetPosition)(InputModuleRecord* record, int32_t* milliseconds);      /* 96 */
    void* unused100;                                                   /* 100 */
    void* unused104;                                                   /* 104 */
    void* unused108;                                                   /* 108 */
    /* The current module's open source; 1 / nonzero on success. */
    int32_t (*Read)(void* buffer, uint32_t size, uint32_t* bytesRead);             /* 112 host */
    int32_t (*SeekSource)(int64_t position, int32_t method, int64_t* previous);    /* 116 host */
    int32_t (*GetSourceName)(char* buffer, uint32_t size);                         /* 120 host */
    void* unset124;                                                    /* 124 */
};

/* Configure's own record: the module's library, the settings file path and, on a nonzero
 * return, the module's settings page. */
typedef struct ConfigureRecord {
    void* library;
    const char* settingsPath;
    intptr_t result;
} ConfigureRecord;

/* HostRequest types. */
#define HOST_REQUEST_RELOAD_CD_DUMP 1
#define HOST_REQUEST_SET_FLAG 4
#define HOST_REQUEST_MAIN_WINDOW 5
#define HOST_REQUEST_STATUS_TEXT 8
#define HOST_REQUEST_USE_WEB_PROXY 9
#define HOST_REQUEST_WEB_PROXY_URL 10
#define HOST_REQUEST_RESET_DISPLAY_COUNTER 11
#define HOST_REQUEST_SEND_MESSAGE 12
#define HOST_REQUEST_STATE_FLAG 18
#define HOST_REQUEST_USE_WEB_PROXY_AUTH 19
#define HOST_REQUEST_WEB_PROXY_USER 20
#define HOST_REQUEST_WEB_PROXY_PASSWORD 21
#define HOST_REQUEST_SHOW_MODULE_PAGE 22
#define HOST_REQUEST_HIDE_MODULE_PAGE 23
#define HOST_REQUEST_REFRESH_SONG 24
#define HOST_REQUEST_PROGRAM_FOLDER 25

#define HOST_WEB_PROXY_URL_SIZE 256
#define HOST_WEB_PROXY_USER_SIZE 64
#define HOST_WEB_PROXY_PASSWORD_SIZE 64

/* Argument of HOST_REQUEST_SEND_MESSAGE. */
typedef struct HostWindowMessage {
    void* window;  /* null: post to the main thread */
    uint32_t message;
    intptr_t wparam;
    intptr_t lparam;
} HostWindowMessage;

/* Input module exports. */
typedef const ModuleDescription* (*QueryFunction)(void);
typedef int32_t (*InitialiseFunction)(InputModuleRecord* record);
typedef int32_t (*ShutdownFunction)(InputModuleRecord* record);
typedef int32_t (*ConfigureFunction)(ConfigureRecord* record);
/* Nonzero when it wrote the track's information (HTML) into buffer; zero with *size raised
 * asks for a larger buffer. */
typedef int32_t (*ExtendedInfoFunction)(char* buffer, uint32_t* size, InputModuleRecord* record);

/* ---- Settings pages of output plug-ins ---- */

#define SETTINGS_CONTROL_SLIDER 4098
#define SETTINGS_CONTROL_LABEL 4099
#define SETTINGS_CONTROL_LIST 4100

#define SETTINGS_PAGE_OPENED 259
#define SETTINGS_PAGE_CLOSED 260
#define SETTINGS_PAGE_CHANGED 266

#define SETTINGS_REQUEST_SET_POSITION 65798
#define SETTINGS_REQUEST_GET_SELECTION 65799
#define SETTINGS_REQUEST_SET_RANGE 65800
#define SETTINGS_REQUEST_ADD_ITEM 65803
#define SETTINGS_REQUEST_PREPARE_LIST 65805
#define SETTINGS_REQUEST_SET_TEXT 65806
#define SETTINGS_REQUEST_PREPARE_LIST_2 65815
#define SETTINGS_REQUEST_PREPARE_LIST_3 65820

typedef struct SettingsControl {
    int32_t layout0;
    int32_t layout1;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    const char* text;
    int32_t unset28;
    int32_t kind;
    int32_t unset36;
    int32_t control;
} SettingsControl;

typedef struct SettingsPage SettingsPage;
/* The screen's service to the page: acts on one control; value is a number or a text. */
typedef intptr_t (*SettingsRequestFunction)(SettingsPage* page, int32_t control, int32_t request,
                                            intptr_t value);
typedef intptr_t (*SettingsPageHandler)(SettingsPage* page, int32_t message, int32_t control,
                                        intptr_t value, SettingsRequestFunction request);

/* Allocated zeroed (calloc) by the plug-in, with its controls; freed by the plug-in when the
 * page closes. */
struct SettingsPage {
    SettingsControl* controls;
    int32_t count;
    SettingsPageHandler handler;
};

/* ---- Output plug-ins ---- */

#define OUTPUT_BLOCK_POSITION_VALID 2
#define OUTPUT_BLOCK_END_OF_SONG 4

/* NextBlock's buffer descriptor: data is the output's buffer (at least one block long); the
 * host fills the rest. */
typedef struct OutputBlock {
    void* data;
    uint32_t length;
    uint32_t flags;
    int32_t positionMs;
    int32_t songId;
} OutputBlock;

typedef struct OutputHost OutputHost;
typedef struct OutputHostTable {
    int32_t (*NextBlock)(OutputHost* host, OutputBlock* block); /* 0 = delivered */
    int32_t (*SetBlockSize)(OutputHost* host, uint32_t bytes);
    int32_t (*SongChanged)(OutputHost* host, int32_t previousId, int32_t newId);
} OutputHostTable;
struct OutputHost {
    const OutputHostTable* table;
};

typedef struct OutputInterface OutputInterface;
typedef struct OutputInterfaceTable {
    void (*destroy)(OutputInterface* self);
    int32_t (*Release)(OutputInterface* self);
    int32_t (*Initialise)(OutputInterface* self, void* window, OutputHost* host);
    int32_t (*Shutdown)(OutputInterface* self);
    int32_t (*GetInfo)(OutputInterface* self, PluginInfo* info);
    int32_t (*GetSettingsPage)(OutputInterface* self, SettingsPage** page);
    int32_t (*Open)(OutputInterface* self, int32_t songId, int32_t* rate, int32_t* channels,
                    int32_t* bits);
    int32_t (*Close)(OutputInterface* self, int32_t immediate);
    int32_t (*Pause)(OutputInterface* self);
    int32_t (*Resume)(OutputInterface* self);
    int32_t (*Flush)(OutputInterface* self);
    int32_t (*GetPosition)(OutputInterface* self, int32_t* milliseconds);
    int32_t (*GetWritten)(OutputInterface* self, int64_t* value);
    int32_t (*SetVolume)(OutputInterface* self, uint32_t packedVolume);
    int32_t (*GetVolume)(OutputInterface* self, uint32_t* packedVolume);
    int32_t (*IsOpen)(OutputInterface* self, int32_t* stillPlaying);
} OutputInterfaceTable;
struct OutputInterface {
    const OutputInterfaceTable* table;
};

typedef int32_t (*CreateOutputInterfaceFunction)(OutputInterface** created);

/* ---- Processor (DSP) plug-ins ---- */

typedef struct ProcessorInterface ProcessorInterface;
typedef struct ProcessorInterfaceTable {
    void (*destroy)(ProcessorInterface* self);
    int32_t (*Release)(ProcessorInterface* self);
    int32_t (*Initialise)(ProcessorInterface* self);
    int32_t (*Shutdown)(ProcessorInterface* self);
    int32_t (*GetInfo)(ProcessorInterface* self, PluginInfo* info);
    int32_t (*Reserved5)(ProcessorInterface* self);
    int32_t (*SetFormat)(ProcessorInterface* self, int32_t* rate, int32_t* channels, int32_t* bits);
    /* *data and *length in: the block; out: the result, which may live in the plug-in's own
     * buffer until the next call. */
    int32_t (*Process)(ProcessorInterface* self, void** data, uint32_t* length);
} ProcessorInterfaceTable;
struct ProcessorInterface {
    const ProcessorInterfaceTable* table;
};

typedef int32_t (*CreateProcessorInterfaceFunction)(ProcessorInterface** created);

#ifdef __cplusplus
}  /* extern "C" */
#endif

/* The original layout, where this build can show it. */
#if defined(__cplusplus) && UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ModuleDescription) == 36, "ModuleDescription layout");
static_assert(offsetof(ModuleDescription, extensions) == 20, "ModuleDescription layout");
static_assert(offsetof(ModuleDescription, flags) == 28, "ModuleDescription layout");
static_assert(sizeof(TrackInfo) == 28, "TrackInfo layout");
static_assert(sizeof(InputModuleRecord) == 128, "InputModuleRecord layout");
static_assert(offsetof(InputModuleRecord, HostRequest) == 20, "InputModuleRecord layout");
static_assert(offsetof(InputModuleRecord, owner) == 36, "InputModuleRecord layout");
static_assert(offsetof(InputModuleRecord, Open) == 44, "InputModuleRecord layout");
static_assert(offsetof(InputModuleRecord, GetInfo) == 64, "InputModuleRecord layout");
static_assert(offsetof(InputModuleRecord, Pause) == 72, "InputModuleRecord layout");
static_assert(offsetof(InputModuleRecord, GetVisData) == 88, "InputModuleRecord layout");
static_assert(offsetof(InputModuleRecord, GetPosition) == 96, "InputModuleRecord layout");
static_assert(offsetof(InputModuleRecord, Read) == 112, "InputModuleRecord layout");
static_assert(offsetof(InputModuleRecord, GetSourceName) == 120, "InputModuleRecord layout");
static_assert(sizeof(SettingsPage) == 12, "SettingsPage layout");
static_assert(sizeof(SettingsControl) == 44, "SettingsControl layout");
static_assert(offsetof(SettingsControl, kind) == 32, "SettingsControl layout");
static_assert(offsetof(SettingsControl, control) == 40, "SettingsControl layout");
static_assert(sizeof(ConfigureRecord) == 12, "ConfigureRecord layout");
static_assert(offsetof(PluginInfo, guid) == 8 && offsetof(PluginInfo, version) == 24,
              "PluginInfo layout");
#endif
#if defined(__cplusplus)
/* Natively, the same fields in the same order. */
static_assert(offsetof(InputModuleRecord, Open) == 11 * sizeof(void*), "InputModuleRecord order");
static_assert(offsetof(InputModuleRecord, Read) == 28 * sizeof(void*), "InputModuleRecord order");
static_assert(sizeof(InputModuleRecord) == 32 * sizeof(void*), "InputModuleRecord order");
static_assert(sizeof(PluginGuid) == 16, "PluginGuid layout");
#endif

#endif /* TESSURA_PLUGIN_ABI_H */
