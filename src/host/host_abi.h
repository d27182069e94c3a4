/* The one contract between the host runtime and the Vellix module.
 *
 * Plain C records and function pointers, laid out by our own simulated host. The module
 * includes nothing of the host but this header, and the host reaches the module only
 * through the exported entry points declared at the end.
 */
#ifndef VELLIX_HOST_ABI_H
#define VELLIX_HOST_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef intptr_t vx_word;

typedef struct VxObjectHeader VxObjectHeader;
typedef struct VxRunHeader VxRunHeader;
typedef struct VxApplication VxApplication;
typedef struct VxHostServices VxHostServices;
typedef struct VxLiveObject VxLiveObject;

/* Bytes the host allocates per run object, header included (GetRunObjectDataSize). */
#define VX_RUN_OBJECT_SIZE 468
/* Size of the design-time property block handed to CreateRunObject. */
#define VX_EDIT_DATA_SIZE 3488
/* Identifier of this extension; other objects of this kind are recognised by it. */
#define VX_IDENTIFIER 0x12FD53A0u

/* Positions in the run header's service table. Each service takes the calling object's
 * header and two words. */
enum {
  VX_SVC_RAISE_TRIGGER = 1,           /* condition number, 0 -> 0 */
  VX_SVC_READ_FIRST_EXPR_PARAM = 4,   /* kind, 0 -> first expression parameter */
  VX_SVC_READ_NEXT_EXPR_PARAM = 5,    /* kind, 0 -> next expression parameter */
  VX_SVC_ALLOCATE_RESULT_STRING = 14, /* size incl. NUL, 0 -> writable char* */
  VX_SVC_READ_PARAMETER = 17,         /* kind, 0 -> next condition/action parameter */
  VX_SVC_SET_POSITION = 23,           /* VxLiveObject*, packed (x << 16 | y & 0xFFFF) -> 0 */
  VX_SVC_COUNT = 24
};

/* Parameter kinds.
 * ReadParameter: VX_KIND_STRUCTURED returns a const char* for a text parameter and a
 * const uint8_t* to the host's parameter record for an object selector or a custom block;
 * VX_KIND_INTEGER returns the value (a position comes packed as X in the high 16 bits and
 * Y in the low 16 bits); VX_KIND_FLOAT returns the bits of a float in the low 32 bits.
 * Expression parameters: VX_KIND_INTEGER, VX_KIND_TEXT (const char*), VX_KIND_FLOAT. */
enum {
  VX_KIND_STRUCTURED = -1,
  VX_KIND_INTEGER = 0,
  VX_KIND_TEXT = 1,
  VX_KIND_FLOAT = 2
};

/* Parameter records (object selectors and custom blocks) carry their data from this
 * offset on; the bytes before it are the host's own. An object selector carries the
 * selected object's name there, NUL-terminated. */
#define VX_PARAM_DATA_OFFSET 6

/* Flags in VxObjectHeader.flags that an expression sets to type its returned word. */
#define VX_RESULT_FLOAT 0x4000u
#define VX_RESULT_TEXT 0x8000u

/* Codes of the general host service. */
enum {
  VX_GEN_ALLOCATE = 100,     /* size -> block */
  VX_GEN_NEW_ARRAY = 101,    /* size -> pointer array */
  VX_GEN_RESIZE = 102,       /* block, size -> block */
  VX_GEN_FREE = 103,         /* block -> 0 */
  VX_GEN_IS_WIDE = 113,      /* application -> non-zero when wide-character */
  VX_GEN_CODE_PAGE = 115     /* application -> code page */
};

/* Folders the host reports for the base-folder choices it owns. */
enum { VX_FOLDER_SYSTEM = 0, VX_FOLDER_APPDATA = 3, VX_FOLDER_COMMON_APPDATA = 4 };

typedef vx_word (*VxService)(VxObjectHeader* object, vx_word a, vx_word b);
typedef vx_word (*VxRoutine)(VxObjectHeader* object, vx_word param1, vx_word param2);

struct VxHostServices {
  vx_word (*general)(int code, vx_word a, vx_word b, vx_word c);
  /* Per-application data of one module, keyed by the module's own handle. */
  void* (*loadApplicationData)(VxApplication* app, const void* module);
  void (*storeApplicationData)(VxApplication* app, const void* module, void* data);
  /* A folder the host reports (VX_FOLDER_*); never null, may be empty. */
  const char* (*folder)(int which);
};

struct VxApplication {
  VxApplication* parent; /* null for the top-level application */
  const char* path;      /* the application's file path as the host reports it; may be null */
  uint32_t flags;        /* bit 0x8000: report the running application's path */
};

/* One live object of the running application. */
struct VxLiveObject {
  uint32_t identifier;   /* extension identifier (VX_IDENTIFIER for objects of this kind) */
  const void* name;      /* 24 characters, wide (uint16_t) when the application is wide */
  VxObjectHeader* run;   /* the object's run object (header first) */
  void* data;            /* kind-specific host data, or null */
};

struct VxRunHeader {
  VxService services[VX_SVC_COUNT];
  const VxHostServices* host;
  VxApplication* app;    /* the running application */
  int32_t liveCount;
  VxLiveObject* live;
};

/* The host's header at the start of every run object; the module's own fields follow it
 * within VX_RUN_OBJECT_SIZE bytes. */
struct VxObjectHeader {
  VxRunHeader* rh;
  uint32_t flags;        /* VX_RESULT_* set by an expression for its returned word */
  uint32_t reserved;
  void* hostData;        /* the host's own per-object data */
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

typedef void (*VxFileNameRoutine)(void* hostValue, const char* fileName);

/* Entry points the module exports (C linkage). The host resolves them by name. */
typedef int (*VxGetInfosFn)(int code);
typedef int (*VxGetRunObjectInfosFn)(void* unused, VxDescription* description);
typedef int (*VxGetRunObjectDataSizeFn)(VxRunHeader* rh, const void* editData);
typedef int (*VxCreateRunObjectFn)(VxObjectHeader* object, const void* editData, void* unused);
typedef int (*VxDestroyRunObjectFn)(VxObjectHeader* object, int unused);
typedef int (*VxHandleRunObjectFn)(VxObjectHeader* object);
typedef void (*VxAppFn)(const VxHostServices* host, VxApplication* app);
typedef void (*VxUpdateFileNamesFn)(void* unused, void* hostValue, const void* editData,
                                    VxFileNameRoutine routine);

#ifdef __cplusplus
}
#endif

#endif
