/* The one contract between the host runtime and the Vellix module.
 *
 * Plain C records and function pointers, laid out by our own simulated host. The module
 * includes nothing of the host but this header, and the host reaches the module only
 * through the exported entry points declared at the end.
 */
#ifndef VELLIX_HOST_ABI_H
#define VELLIX_HOST_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#define VX_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define VX_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

/* VX_CALL: the calling convention of every function that crosses between the host and the
 * module: the exported entry points, the routines of the three tables, the host's services
 * and every callback either side hands the other. On 32-bit Windows it is __stdcall, the
 * convention of the Windows API (the callee removes its arguments from the stack), which the
 * host uses; anywhere else there is one convention and VX_CALL is empty. Module and host must
 * agree: a mismatch corrupts the stack at the first call. A host with another convention
 * builds with -DVX_CALL=... (the one switch); nothing else needs to change. */
#ifndef VX_CALL
#if defined(_WIN32) && !defined(_WIN64)
#define VX_CALL __stdcall
#else
#define VX_CALL
#endif
#endif

typedef intptr_t vx_word;

typedef struct VxObjectHeader VxObjectHeader;
typedef struct VxRunHeader VxRunHeader;
typedef struct VxApplication VxApplication;
typedef struct VxHostServices VxHostServices;
typedef struct VxLiveObject VxLiveObject;
typedef struct VxSceneObject VxSceneObject;

/* Bytes the host allocates per run object, header included (GetRunObjectDataSize). */
#define VX_RUN_OBJECT_SIZE 468
/* Size of the design-time property block handed to CreateRunObject. */
#define VX_EDIT_DATA_SIZE 3488
/* Identifier of this extension; other objects of this kind are recognised by it. */
#define VX_IDENTIFIER 0x12FD53A0u

/* Routines in the three tables of the description record. */
#define VX_CONDITION_COUNT 20
#define VX_ACTION_COUNT 84
#define VX_EXPRESSION_COUNT 41

/* The rest of the description record (VxDescription) as this module fills it. */
#define VX_OBJECT_FLAGS 0x100u /* the object flags it declares to the host */
#define VX_PRIORITY 100
#define VX_EDITOR_OPTIONS 0
#define VX_DESCRIPTION_VERSION 1

/* GetInfos: the questions the host asks by code, and this module's answers. Every other
 * code is answered with 0. */
enum {
  VX_INFO_VERSION = 0, /* -> VX_INFO_VERSION_ANSWER, the extension format version */
  VX_INFO_PLUGIN = 2,  /* -> VX_INFO_PLUGIN_ANSWER, the plug-in interface version */
  VX_INFO_PRODUCT = 6, /* -> VX_INFO_PRODUCT_ANSWER, the host product it needs */
  VX_INFO_BUILD = 7    /* -> VX_INFO_BUILD_ANSWER, the oldest host build it runs in */
};
#define VX_INFO_VERSION_ANSWER 0x300
#define VX_INFO_PLUGIN_ANSWER 0x100
#define VX_INFO_PRODUCT_ANSWER 2
#define VX_INFO_BUILD_ANSWER 243

/* The trigger conditions: the condition number the module raises with
 * VX_SVC_RAISE_TRIGGER, and what raises it. */
enum {
  VX_TRIGGER_DIALOG_OPENED = 7,     /* never raised: the data-browser dialog is not here */
  VX_TRIGGER_DIALOG_CLOSED = 8,     /* never raised */
  VX_TRIGGER_DIALOG_MODIFIED = 9,   /* never raised */
  VX_TRIGGER_DATA_MODIFIED = 10,    /* every object attached to a store, after a change */
  VX_TRIGGER_SAVE = 11,             /* the store's owner, before its file is written */
  VX_TRIGGER_NEW_ITEM = 12,         /* every object attached to a store, on a new item */
  VX_TRIGGER_RESULTS_FOUND = 13,    /* a search left results in the list */
  VX_TRIGGER_NO_RESULTS = 14,       /* a search left the list empty */
  VX_TRIGGER_MERGED = 15,           /* a merge whose source could be had */
  VX_TRIGGER_UNCOMPRESSED = 16,     /* a file was decompressed */
  VX_TRIGGER_UNCOMPRESS_FAILED = 17 /* a file failed to be decompressed */
};

/* Positions in the run header's service table. Each service takes the calling object's
 * header and two words. */
enum {
  VX_SVC_RAISE_TRIGGER = 1,           /* condition number, 0 -> 0 */
  VX_SVC_READ_FIRST_EXPR_PARAM = 4,   /* kind, 0 -> first expression parameter */
  VX_SVC_READ_NEXT_EXPR_PARAM = 5,    /* kind, 0 -> next expression parameter */
  VX_SVC_ALLOCATE_RESULT_STRING = 14, /* size incl. NUL, 0 -> writable char* */
  VX_SVC_READ_PARAMETER = 17,         /* kind, 0 -> next condition/action parameter */
  VX_SVC_SET_POSITION = 23,           /* VxLiveObject*, const VxPoint* -> 0: moves that object */
  VX_SVC_COUNT = 24
};

/* Parameter kinds.
 * ReadParameter: VX_KIND_STRUCTURED returns a const char* for a text parameter and a
 * const uint8_t* to the host's parameter record for an object selector or a custom block;
 * VX_KIND_INTEGER returns the value (a position comes packed as X in the high 16 bits and
 * Y in the low 16 bits); VX_KIND_FLOAT returns the bits of a float in the low 32 bits.
 * Expression parameters: VX_KIND_INTEGER, VX_KIND_TEXT (const char*), VX_KIND_FLOAT. */
enum { VX_KIND_STRUCTURED = -1, VX_KIND_INTEGER = 0, VX_KIND_TEXT = 1, VX_KIND_FLOAT = 2 };

/* Parameter records (object selectors and custom blocks) carry their data from this
 * offset on; the bytes before it are the host's own. An object selector carries the
 * selected object's name there, NUL-terminated. */
#define VX_PARAM_DATA_OFFSET 6

/* Flags in VxObjectHeader.flags that an expression sets to type its returned word. */
#define VX_RESULT_FLOAT 0x4000u
#define VX_RESULT_TEXT 0x8000u

/* Action 78 ("%0 : %1"): the load options its custom block carries from
 * VX_PARAM_DATA_OFFSET on, each a signed byte. */
enum {
  VX_LOAD_OPTION_SKIP_LOAD = 0,  /* non-zero: the file is not read */
  VX_LOAD_OPTION_NAME_MODE = 1,  /* VX_NAME_* */
  VX_LOAD_OPTION_CLEAR_MODE = 2, /* VX_CLEAR_* */
  VX_LOAD_OPTION_FLAGS = 3       /* VX_LOAD_* bits */
};
/* Name modes: when the store's file name becomes the path as given. Any other value: never. */
enum { VX_NAME_ALWAYS = 0, VX_NAME_WHEN_READ = 2 };
/* Clear modes: when the store is emptied before reading. Any other value: never. */
enum { VX_CLEAR_ALWAYS = 0, VX_CLEAR_WHEN_FILE_EXISTS = 2 };
/* Load flags. */
enum { VX_LOAD_AFTER_CHANGE = 1, VX_LOAD_READ_ONLY = 2 };

/* Codes of the general host service. */
enum {
  VX_GEN_ALLOCATE = 100,  /* size -> block */
  VX_GEN_NEW_ARRAY = 101, /* size -> pointer array */
  VX_GEN_RESIZE = 102,    /* block, size -> block */
  VX_GEN_FREE = 103,      /* block -> 0 */
  VX_GEN_IS_WIDE = 113,   /* application -> non-zero when wide-character */
  VX_GEN_CODE_PAGE = 115  /* application -> code page */
};

/* Folders the host reports for the base-folder choices it owns. */
enum { VX_FOLDER_SYSTEM = 0, VX_FOLDER_APPDATA = 3, VX_FOLDER_COMMON_APPDATA = 4 };

typedef vx_word(VX_CALL* VxService)(VxObjectHeader* object, vx_word a, vx_word b);
typedef vx_word(VX_CALL* VxRoutine)(VxObjectHeader* object, vx_word param1, vx_word param2);

struct VxHostServices {
  vx_word(VX_CALL* general)(int code, vx_word a, vx_word b, vx_word c);
  /* Per-application data of one module, keyed by the module's own handle. */
  void*(VX_CALL* loadApplicationData)(VxApplication* app, const void* module);
  void(VX_CALL* storeApplicationData)(VxApplication* app, const void* module, void* data);
  /* A folder the host reports (VX_FOLDER_*); never null, may be empty. */
  const char*(VX_CALL* folder)(int which);
};

/* A position given to the set-position service. */
typedef struct VxPoint {
  int32_t x;
  int32_t y;
} VxPoint;

/* A tagged value: an alterable value of a scene object or a global value. Types other than
 * these two exist; they are neither integers nor double-precision numbers. */
enum { VX_VALUE_INTEGER = 0, VX_VALUE_DOUBLE = 2 };
typedef struct VxValue {
  int32_t type; /* VX_VALUE_* */
  int32_t reserved;
  union {
    int32_t integer;
    double real;
  } u;
} VxValue;

/* Bits of VxApplication.flags. */
enum {
  VX_APP_SHARES_VALUES = 0x1,  /* uses its parent's global values */
  VX_APP_SHARES_STRINGS = 0x2, /* uses its parent's global strings */
  VX_APP_RUNNING_PATH = 0x8000 /* (top level) report the running application's path */
};

/* Texts the host owns (alterable strings, global strings) are blocks of the general
 * allocation service holding a NUL-terminated text: narrow bytes, or 16-bit characters when
 * the application is wide. Whoever replaces one releases the old block with VX_GEN_FREE. */
struct VxApplication {
  VxApplication* parent; /* null for the top-level application */
  const char* path;      /* the application's file path as the host reports it; may be null */
  uint32_t flags;        /* VX_APP_* */
  /* Global values and strings: blocks of the general allocation service, grown with
   * VX_GEN_RESIZE (new entries zero-filled). Each string slot is a host text or null. */
  int32_t globalValueCount;
  VxValue* globalValues;
  int32_t globalStringCount;
  void** globalStrings;
};

/* The state of an object placed in the scene. The module moves it only through the
 * set-position service; the other fields it reads and writes in place. */
#define VX_ALTERABLE_VALUES 26
#define VX_ALTERABLE_STRINGS 10
struct VxSceneObject {
  int32_t x;
  int32_t y;
  int32_t direction;
  int32_t speed;
  int32_t animation;
  int32_t animationFrame;
  uint8_t hasMovement;    /* has movement and animation data */
  uint8_t hasAlterable;   /* has alterable values, flags and strings */
  uint8_t displayChanged; /* set by whoever changes what the object shows */
  uint8_t reserved;
  int32_t alterableFlags;
  VxValue values[VX_ALTERABLE_VALUES];
  void* strings[VX_ALTERABLE_STRINGS]; /* host texts, or null */
};

/* ---- Array objects: live objects with this identifier; their data is a VxArrayData. */
#define VX_ARRAY_IDENTIFIER 0x41525259u /* "ARRY" */
enum {
  VX_ARRAY_NUMERIC = 0x1, /* cells are int32_t */
  VX_ARRAY_TEXT = 0x2,    /* cells are NUL-terminated narrow texts (const char*), null = empty */
  VX_ARRAY_BASE1 = 0x4    /* the indexes users see start at 1 */
};
typedef struct VxArrayData {
  int32_t sizeX;
  int32_t sizeY;
  int32_t sizeZ;
  uint32_t flags; /* VX_ARRAY_* */
  /* Cell (x, y, z), each from 0, is entry x + sizeX * (y + sizeY * z). */
  void* cells;
} VxArrayData;

/* ---- Chart objects: live objects with this identifier; their data is a VxChartData. */
#define VX_CHART_IDENTIFIER 0x43485254u /* "CHRT" */
#define VX_CHART_TEXT_SIZE 128          /* text properties: at most 127 bytes and a NUL */
#define VX_CHART_SERIES 9
#define VX_CHART_KEY_COUNT 131

enum { VX_POINT_HAS_LABEL = 0x1, VX_POINT_HAS_A = 0x2, VX_POINT_HAS_B = 0x4 };
typedef struct VxChartPoint {
  uint32_t flags; /* VX_POINT_* */
  float x;
  float y;
  int32_t a;
  int32_t b;
  const char* label; /* narrow text owned by the chart, valid until the chart changes */
} VxChartPoint;

/* The properties of a chart, one field per property key, in key order. Their kinds: */
enum { VX_CHART_INTEGER = 0, VX_CHART_FLAG = 1, VX_CHART_NUMBER = 2, VX_CHART_TEXT = 3 };
#define VX_CHART_FIELD_INTEGER(name) int32_t name;
#define VX_CHART_FIELD_FLAG(name) uint8_t name;
#define VX_CHART_FIELD_NUMBER(name) float name;
#define VX_CHART_FIELD_TEXT(name) char name[VX_CHART_TEXT_SIZE];
#define VX_CHART_DECLARE(name, kind) VX_CHART_FIELD_##kind(name)

/* The key lists read best one row of keys to a line, as written. */
/* clang-format off */
#define VX_CHART_PROPERTIES_BEFORE_SERIES(X)                                                  \
  X(chartType, INTEGER) X(horizontal, FLAG) X(antialias, FLAG) X(transparent, FLAG)         \
  X(minValueUser, NUMBER) X(maxValueUser, NUMBER) X(autoValues, INTEGER)                     \
  X(minSeriesUser, NUMBER) X(maxSeriesUser, NUMBER) X(autoSeries, INTEGER)                   \
  X(markerOverAxis, FLAG)
/* Then, for each series i from 0 to 8, seven integers keyed "markerType[i]" and so on. */
#define VX_CHART_SERIES_PROPERTIES(X, i)                                                      \
  X(markerType, i) X(markerColour, i) X(markerSize, i) X(markerThickness, i) X(lineType, i)  \
  X(lineThickness, i) X(lineColour, i)
#define VX_CHART_PROPERTIES_AFTER_SERIES(X)                                                   \
  X(labelValueInterval, INTEGER) X(labelSeriesInterval, INTEGER)                             \
  X(tickSeriesInterval, NUMBER) X(tickValueInterval, NUMBER) X(labelValuePrecision, INTEGER) \
  X(labelSeriesPrecision, INTEGER) X(labelInvValuePrecision, INTEGER)                        \
  X(axisThickness, INTEGER) X(tickSeriesSize, INTEGER) X(tickValueSize, INTEGER)             \
  X(barWidth, INTEGER) X(paddingWidth, NUMBER) X(displayValue, FLAG)                         \
  X(displayValueColour, INTEGER) X(labelValuePadding, INTEGER) X(titleShow, FLAG)            \
  X(titleText, TEXT) X(titleColour, INTEGER) X(titleShadow, FLAG) X(titlePadding, INTEGER)   \
  X(axisTitleSeries, FLAG) X(axisTitleValue, FLAG) X(axisTitleSeriesText, TEXT)              \
  X(axisTitleValueText, TEXT) X(axisTitleColour, INTEGER) X(padLeft, INTEGER)                \
  X(padRight, INTEGER) X(padTop, INTEGER) X(padBottom, INTEGER) X(backgroundColour, INTEGER) \
  X(axisColour, INTEGER) X(radarColour, INTEGER) X(radarOpacity, INTEGER)                    \
  X(gridSeriesColour, INTEGER) X(gridValueColour, INTEGER)                                   \
  X(valueOutlineThickness, INTEGER) X(valueOutlineColour, INTEGER)                           \
  X(labelSeriesColour, INTEGER) X(labelValueColour, INTEGER) X(labelSeries, FLAG)            \
  X(labelValue, FLAG) X(pie3DHeight, INTEGER) X(rotation, NUMBER) X(gridXInterval, NUMBER)   \
  X(gridYInterval, NUMBER) X(gridSeriesThickness, INTEGER) X(gridValueThickness, INTEGER)    \
  X(borderThickness, INTEGER) X(borderColour, INTEGER) X(autoTicks, FLAG) X(vPadding, FLAG)  \
  X(hPadding, FLAG) X(gridXShow, FLAG) X(gridYShow, FLAG) X(autoTicksX, FLAG)                \
  X(labelValuePrecisionUser, INTEGER) X(labelSeriesPrecisionUser, INTEGER)

/* clang-format on */
#define VX_CHART_DECLARE_SERIES(name, i) int32_t name;
typedef struct VxChartSeries {
  VX_CHART_SERIES_PROPERTIES(VX_CHART_DECLARE_SERIES, 0)
} VxChartSeries;

typedef struct VxChartProperties {
  VX_CHART_PROPERTIES_BEFORE_SERIES(VX_CHART_DECLARE)
  VxChartSeries series[VX_CHART_SERIES];
  VX_CHART_PROPERTIES_AFTER_SERIES(VX_CHART_DECLARE)
} VxChartProperties;

/* Every property key with its kind and the offset of its field, in key order. */
typedef struct VxChartKey {
  const char* name;
  int kind; /* VX_CHART_INTEGER ... */
  size_t offset;
} VxChartKey;

#define VX_CHART_KEY(name, kind) {#name, VX_CHART_##kind, offsetof(VxChartProperties, name)},
#define VX_CHART_SERIES_KEY(name, i) \
  {#name "[" #i "]", VX_CHART_INTEGER, offsetof(VxChartProperties, series[i].name)},
static inline const VxChartKey* VxChartKeys(void) {
  static const VxChartKey keys[VX_CHART_KEY_COUNT] = {
      VX_CHART_PROPERTIES_BEFORE_SERIES(VX_CHART_KEY) VX_CHART_SERIES_PROPERTIES(
          VX_CHART_SERIES_KEY, 0) VX_CHART_SERIES_PROPERTIES(VX_CHART_SERIES_KEY, 1)
          VX_CHART_SERIES_PROPERTIES(VX_CHART_SERIES_KEY, 2) VX_CHART_SERIES_PROPERTIES(
              VX_CHART_SERIES_KEY, 3) VX_CHART_SERIES_PROPERTIES(VX_CHART_SERIES_KEY, 4)
              VX_CHART_SERIES_PROPERTIES(VX_CHART_SERIES_KEY, 5) VX_CHART_SERIES_PROPERTIES(
                  VX_CHART_SERIES_KEY, 6) VX_CHART_SERIES_PROPERTIES(VX_CHART_SERIES_KEY, 7)
                  VX_CHART_SERIES_PROPERTIES(VX_CHART_SERIES_KEY, 8)
                      VX_CHART_PROPERTIES_AFTER_SERIES(VX_CHART_KEY)};
  return keys;
}

/* The three functions a chart publishes. The point reader fills `point` and returns
 * non-zero, or returns 0 when there is no point with that index (from 0). The point adder
 * adds one point; its last argument is always 1. The property exchange copies the chart's
 * properties into the block (VX_CHART_GET_PROPERTIES) or applies the block to the chart
 * (VX_CHART_SET_PROPERTIES). */
enum { VX_CHART_GET_PROPERTIES = 0, VX_CHART_SET_PROPERTIES = 1 };
typedef struct VxChartData {
  void* chart;
  int(VX_CALL* readPoint)(void* chart, int32_t index, VxChartPoint* point);
  void(VX_CALL* addPoint)(void* chart, float x, float y, int32_t a, int32_t b, const char* label,
                          int32_t one);
  void(VX_CALL* exchangeProperties)(void* chart, int32_t mode, VxChartProperties* block);
} VxChartData;

/* One live object of the running application. */
struct VxLiveObject {
  uint32_t identifier;  /* extension identifier (VX_IDENTIFIER for objects of this kind) */
  const void* name;     /* 24 characters, wide (uint16_t) when the application is wide */
  VxObjectHeader* run;  /* the object's run object (header first) */
  void* data;           /* kind-specific host data (VxArrayData, VxChartData), or null */
  VxSceneObject* scene; /* the object's scene state, or null when it has none */
};

struct VxRunHeader {
  VxService services[VX_SVC_COUNT];
  const VxHostServices* host;
  VxApplication* app; /* the running application */
  int32_t liveCount;
  VxLiveObject* live;
};

/* The host's header at the start of every run object; the module's own fields follow it
 * within VX_RUN_OBJECT_SIZE bytes. */
struct VxObjectHeader {
  VxRunHeader* rh;
  uint32_t flags; /* VX_RESULT_* set by an expression for its returned word */
  uint32_t reserved;
  void* hostData; /* the host's own per-object data */
};

/* Description record filled by GetRunObjectInfos. */
typedef struct VxDescription {
  const VxRoutine* conditions;
  const VxRoutine* actions;
  const VxRoutine* expressions;
  uint16_t conditionCount;
  uint16_t actionCount;
  uint16_t expressionCount;
  uint16_t editDataSize;
  uint32_t objectFlags;
  uint8_t priority;
  uint8_t spare;
  uint16_t editorOptions;
  uint32_t identifier;
  uint16_t version;
} VxDescription;

/* The design-time properties of one placed object, as the host stores them and hands them
 * to CreateRunObject (VX_EDIT_DATA_SIZE bytes). Every field is made of bytes, so the record
 * has no padding of the compiler's and may be read at any address. A flag is one byte, 0 off
 * and anything else on; a 32-bit number is little-endian; a text ends at its first zero byte,
 * or at its field's end when none comes first. */
typedef struct VxEditData {
  uint8_t hostHeader[20];  /* the host's own */
  uint8_t loadDefaultFile; /* load the default file when the object is created */
  uint8_t defaultReadOnly; /* open the default file read-only: it is never written */
  char defaultFile[260];   /* the default file; relative to the base folder */
  uint8_t padding1[2];
  uint8_t baseFolder[4];    /* 32-bit VX_BASE_* choice of the folder paths hang off */
  char initialData[3000];   /* INI text read into the store at creation */
  uint8_t createFolders;    /* create the missing folders of a file's path */
  uint8_t autoSave;         /* write the file after every change */
  uint8_t standardSettings; /* the standard settings, not the format ones given here */
  uint8_t compression;      /* files are compressed blocks */
  uint8_t encryption;       /* files are enciphered with the key */
  char encryptionKey[128];  /* the cipher key */
  uint8_t customNewLine;    /* lines end with the new-line text below, not CR LF */
  char newLine[10];         /* the custom new-line text; empty means CR LF */
  uint8_t alwaysQuote;      /* double quotes around a value are part of the value */
  uint8_t padding2[3];
  uint8_t groupRepeatMode[4]; /* 32-bit VX_GROUP_REPEAT_* for a group header met again */
  int8_t itemRepeatMode;      /* VX_ITEM_REPEAT_* for an item name met again in a group */
  int8_t undoDepth;           /* undo blocks kept; -1 unlimited, 0 none */
  int8_t redoDepth;           /* redo blocks kept; -1 unlimited, 0 none */
  uint8_t padding3;
  uint8_t saveRepeatedAsOriginal; /* names are written without the part from their last dot */
  uint8_t escapeGroups;           /* escape sequences in group names */
  uint8_t escapeItemNames;        /* escape sequences in item names */
  uint8_t escapeValues;           /* escape sequences in item values */
  uint8_t caseSensitive;          /* group and item names differ by case */
  uint8_t globalData;             /* share the store of the global data key below */
  uint8_t oneBasedIndex;          /* index parameters count from 1, not 0 */
  uint8_t autoLoad;               /* re-read the file before every routine */
  uint8_t subgroups;              /* indented groups are read and written as subgroups */
  uint8_t allowEmptyGroups;       /* a group without items stays */
  char globalDataKey[34];         /* the application-wide name of the shared store */
} VxEditData;

#define VX_EDIT_FIELD_SIZE(field) sizeof(((VxEditData*)0)->field)

VX_STATIC_ASSERT(sizeof(VxEditData) == VX_EDIT_DATA_SIZE, "edit data size");
VX_STATIC_ASSERT(offsetof(VxEditData, loadDefaultFile) == 20, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, defaultFile) == 22, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, baseFolder) == 284, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, initialData) == 288, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, createFolders) == 3288, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, encryptionKey) == 3293, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, customNewLine) == 3421, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, newLine) == 3422, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, alwaysQuote) == 3432, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, groupRepeatMode) == 3436, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, itemRepeatMode) == 3440, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, saveRepeatedAsOriginal) == 3444, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, caseSensitive) == 3448, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, allowEmptyGroups) == 3453, "edit data layout");
VX_STATIC_ASSERT(offsetof(VxEditData, globalDataKey) == 3454, "edit data layout");

/* Base folder choices (VxEditData.baseFolder); any other value gives an empty base folder. */
enum {
  VX_BASE_SYSTEM = 0,        /* the host's system folder */
  VX_BASE_CURRENT = 1,       /* the process's current directory */
  VX_BASE_APPLICATION = 2,   /* the folder of the application's file */
  VX_BASE_APPDATA = 3,       /* the user's data folder, else the system folder */
  VX_BASE_COMMON_APPDATA = 4 /* the shared data folder, else the system folder */
};

/* Repeat modes (VxEditData and action 56), stored as given: other values are kept too. */
enum {
  VX_GROUP_REPEAT_FIRST = 0,  /* the items of a repeated header are skipped */
  VX_GROUP_REPEAT_LAST = 1,   /* a repeated header reads its group afresh */
  VX_GROUP_REPEAT_RENAME = 2, /* a repeated header starts the group "name.N" */
  VX_GROUP_REPEAT_MERGE = 3   /* a repeated header adds to its group */
};
enum {
  VX_ITEM_REPEAT_FIRST = 0, /* the first value of a repeated name stays */
  VX_ITEM_REPEAT_LAST = 1,  /* the last value wins */
  VX_ITEM_REPEAT_RENAME = 2 /* a repeated name becomes "name.N" */
};

/* The direction of the CSV actions (65, 66): other values do nothing. */
enum {
  VX_CSV_IMPORT = 0, /* the file is read into the document */
  VX_CSV_EXPORT = 1  /* the document is written to the file */
};

/* Action 81 clears by bits: other bits are ignored, so 0 clears nothing and -1 both. */
enum { VX_CLEAR_UNDO_STACK = 1, VX_CLEAR_REDO_STACK = 2 };

/* Action 83: 2 is manual undo blocks (action 82 starts each); every other value automatic. */
enum { VX_UNDO_BLOCKS_MANUAL = 2 };

typedef void(VX_CALL* VxFileNameRoutine)(void* hostValue, const char* fileName);

/* Entry points the module exports (C linkage). The host resolves them by name. */
typedef int(VX_CALL* VxGetInfosFn)(int code);
typedef int(VX_CALL* VxGetRunObjectInfosFn)(void* unused, VxDescription* description);
typedef int(VX_CALL* VxGetRunObjectDataSizeFn)(VxRunHeader* rh, const void* editData);
typedef int(VX_CALL* VxCreateRunObjectFn)(VxObjectHeader* object, const void* editData,
                                          void* unused);
typedef int(VX_CALL* VxDestroyRunObjectFn)(VxObjectHeader* object, int unused);
typedef int(VX_CALL* VxHandleRunObjectFn)(VxObjectHeader* object);
typedef void(VX_CALL* VxAppFn)(const VxHostServices* host, VxApplication* app);
typedef void(VX_CALL* VxUpdateFileNamesFn)(void* unused, void* hostValue, const void* editData,
                                           VxFileNameRoutine routine);

/* The same entry points declared, for a host that links the module in rather than loading
 * it (tests, fuzz targets); the module's definitions are checked against them. */
int VX_CALL GetInfos(int code);
int VX_CALL GetRunObjectInfos(void* unused, VxDescription* description);
int VX_CALL GetRunObjectDataSize(VxRunHeader* rh, const void* editData);
int VX_CALL CreateRunObject(VxObjectHeader* object, const void* editData, void* unused);
int VX_CALL DestroyRunObject(VxObjectHeader* object, int unused);
int VX_CALL HandleRunObject(VxObjectHeader* object);
void VX_CALL StartApp(const VxHostServices* host, VxApplication* app);
void VX_CALL EndApp(const VxHostServices* host, VxApplication* app);
void VX_CALL UpdateFileNames(void* unused, void* hostValue, const void* editData,
                             VxFileNameRoutine routine);

#ifdef __cplusplus
}
#endif

#endif
