/*
 * bacnetip plug-in: the binary boundary between a data-logging host and the
 * module.  This header is all a host needs: the call records, the variant
 * layout, the parameter-list interfaces and the signatures of the exports and
 * of the host's own entry points.  It is plain C so that any host can use it.
 *
 * Records are packed and little-endian.  On 32-bit builds the layouts are the
 * historical ones (call record 102 bytes, value descriptor 13, module-info
 * header 33); on 64-bit builds the fields that hold an address are 8 bytes.
 */
#ifndef BACNETIP_PLUGIN_ABI_H
#define BACNETIP_PLUGIN_ABI_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define KEL_STDCALL __stdcall
#else
#define KEL_STDCALL
#endif

#if defined(_WIN32)
#define KEL_EXPORT
#else
#define KEL_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Variants (OLE VARIANT layout) ------------------------------------ */

#ifdef __cplusplus
typedef char16_t kel_char16;
#else
typedef uint16_t kel_char16; /* C has no char16_t without <uchar.h> */
#endif
typedef kel_char16* kel_bstr; /* points at the text; 4-byte byte length before it */

enum {
  KEL_VT_EMPTY = 0,
  KEL_VT_NULL = 1,
  KEL_VT_I2 = 2,
  KEL_VT_I4 = 3,
  KEL_VT_R4 = 4,
  KEL_VT_R8 = 5,
  KEL_VT_CY = 6,
  KEL_VT_DATE = 7,
  KEL_VT_BSTR = 8,
  KEL_VT_BOOL = 11,
  KEL_VT_I1 = 16,
  KEL_VT_UI1 = 17,
  KEL_VT_UI2 = 18,
  KEL_VT_UI4 = 19,
  KEL_VT_I8 = 20,
  KEL_VT_UI8 = 21,
  KEL_VT_ANSI_PTR = 0x0100, /* input only: null-terminated 8-bit text */
  KEL_VT_WIDE_PTR = 0x0102  /* input only: null-terminated UTF-16 text */
};

typedef struct kel_variant {
  uint16_t vt;
  uint16_t reserved1;
  uint16_t reserved2;
  uint16_t reserved3;
  union {
    int8_t i1;
    uint8_t ui1;
    int16_t i2;
    uint16_t ui2;
    int32_t i4;
    uint32_t ui4;
    int64_t i8;
    uint64_t ui8;
    float r4;
    double r8;
    double date;
    int64_t cy; /* currency: value * 10000 */
    int16_t boolean; /* -1 true, 0 false */
    kel_bstr bstr;
    const char* ansi_ptr;
    const kel_char16* wide_ptr;
    void* ptrs[2]; /* the union is two pointers wide */
  } u;
} kel_variant;

/* ---- Call records ------------------------------------------------------ */

#pragma pack(push, 1)

typedef struct TPluginValue {
  uint32_t Counter;
  uint32_t Size;
  uint8_t Kind;
  uintptr_t Value; /* pointer, or a 32-bit integer in the low bits */
} TPluginValue;

typedef struct TPluginCallRec {
  uint32_t Size;
  uint8_t Flags;
  uint32_t Instance;
  int32_t ModuleIndex;
  int32_t DataSourceId;
  int32_t PeerId;
  uint8_t CallTypes;
  void* Params;
  TPluginValue Input;
  TPluginValue Output;
  char PeerAddress[50];
} TPluginCallRec;

typedef struct TPluginModuleInfo {
  uint32_t Size;
  uint32_t ModuleType;
  uint32_t FrameworkVersion;
  float ModuleVersion;
  uint8_t ModuleInfoFlag;
  uint32_t DescriptionLength;
  uintptr_t Description;
  uint32_t CommandsLength;
  uintptr_t Commands;
  /* texts follow */
} TPluginModuleInfo;

#pragma pack(pop)

/* Value descriptor kinds. */
enum {
  KEL_KIND_OBJECT = 1,
  KEL_KIND_COPIED = 2,
  KEL_KIND_BUFFER = 4,
  KEL_KIND_STATUS = 5,
  KEL_KIND_CONTROL = 6,
  KEL_KIND_RAW_LIST = 8,
  KEL_KIND_LIST_INTF = 9
};

#define KEL_CALLREC_SIZE ((uint32_t)sizeof(TPluginCallRec))
#define KEL_MODULEINFO_HEADER ((uint32_t)sizeof(TPluginModuleInfo))
#define KEL_FLAG_PARAMS_INTF 0x40u
#define KEL_SHUTDOWN_CODE 0xFF01u
#define KEL_LIST_SIGNATURE 0x0FDE2E4Bu
#define KEL_ROW_MARKER_TYPE 0xFF01
#define KEL_MSG_LOG_CHANGED 1809u
#define KEL_MSG_SETTINGS_CHANGED 1812u
#define KEL_DATA_KIND_PARSED 9
#define KEL_DATA_KIND_SEND 129
#define KEL_STATUS_FAIL 0x8000FFFFu
#define KEL_E_NOINTERFACE 0x80004002u

/* ---- Parameter-list interfaces (COM layout) ----------------------------- */

typedef struct kel_guid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} kel_guid;

typedef struct IkelParamsListItemA IkelParamsListItemA;
typedef struct IkelParamsListA IkelParamsListA;
typedef struct IkelParamsListW IkelParamsListW;
typedef IkelParamsListItemA IkelParamsListItemW; /* one object serves as both */

typedef struct IkelParamsListItemVtbl {
  uint32_t(KEL_STDCALL* QueryInterface)(void* self, const kel_guid* iid, void** out);
  uint32_t(KEL_STDCALL* AddRef)(void* self);
  uint32_t(KEL_STDCALL* Release)(void* self);
  void(KEL_STDCALL* SetKey)(void* self, const char* key);
  void(KEL_STDCALL* SetDataType)(void* self, int32_t type);
  void(KEL_STDCALL* SetState)(void* self, uint8_t state);
  const char*(KEL_STDCALL* GetKey)(void* self);
  int32_t(KEL_STDCALL* GetDataType)(void* self);
  uint8_t(KEL_STDCALL* GetState)(void* self);
  uint32_t(KEL_STDCALL* SetValue)(void* self, const kel_variant* value);
  uint32_t(KEL_STDCALL* GetValue)(void* self, kel_variant* out);
  void(KEL_STDCALL* SetName)(void* self, const char* name);
  const char*(KEL_STDCALL* GetName)(void* self);
  uint8_t(KEL_STDCALL* IsNewRow)(void* self);
  /* IkelParamsListItemW */
  void(KEL_STDCALL* SetNameW)(void* self, const kel_char16* name);
  const kel_char16*(KEL_STDCALL* GetNameW)(void* self);
  uint32_t(KEL_STDCALL* SetValueW)(void* self, const kel_variant* value);
  uint32_t(KEL_STDCALL* GetValueW)(void* self, kel_variant* out);
} IkelParamsListItemVtbl;

struct IkelParamsListItemA {
  const IkelParamsListItemVtbl* vtbl;
};

/* The list interfaces share their layout; only the text flavour of names and
 * the item interface returned differ. */
#define KEL_LIST_VTBL(NAME, CH, ITEM)                                                          \
  typedef struct NAME {                                                                       \
    uint32_t(KEL_STDCALL* QueryInterface)(void* self, const kel_guid* iid, void** out);       \
    uint32_t(KEL_STDCALL* AddRef)(void* self);                                                \
    uint32_t(KEL_STDCALL* Release)(void* self);                                               \
    int32_t(KEL_STDCALL* GetCount)(void* self);                                               \
    uint32_t(KEL_STDCALL* GetSignature)(void* self);                                          \
    int32_t(KEL_STDCALL* GetTag)(void* self);                                                 \
    void(KEL_STDCALL* SetTag)(void* self, int32_t tag);                                       \
    void(KEL_STDCALL* Clear)(void* self);                                                     \
    void(KEL_STDCALL* Delete)(void* self, int32_t index);                                     \
    uint8_t(KEL_STDCALL* FindRowEnd)(void* self, int32_t from, int32_t* index,                \
                                     uint8_t* isMarker);                                      \
    void(KEL_STDCALL* AddNewRow)(void* self);                                                 \
    void(KEL_STDCALL* AppendRow)(void* self, void* sourceWrapper);                            \
    uint32_t(KEL_STDCALL* GetItem)(void* self, int32_t index, ITEM** out);                    \
    uint32_t(KEL_STDCALL* AddList)(void* self, void* list, uint8_t* out);                     \
    uint32_t(KEL_STDCALL* AddListRange)(void* self, void* list, int32_t from, int32_t to,     \
                                        uint8_t* out);                                        \
    uint32_t(KEL_STDCALL* FindItem)(void* self, const CH* name, int32_t from, int32_t to,     \
                                    ITEM** out);                                              \
    uint32_t(KEL_STDCALL* IndexOf)(void* self, const CH* name, int32_t from, int32_t to,      \
                                   int32_t* out);                                             \
    uint32_t(KEL_STDCALL* GetValue)(void* self, const CH* name, int32_t from, int32_t to,     \
                                    kel_variant* out);                                        \
    uint32_t(KEL_STDCALL* GetValueDef)(void* self, const CH* name, const kel_variant* def,    \
                                       int32_t from, int32_t to, kel_variant* out);           \
    uint32_t(KEL_STDCALL* Add)(void* self, const CH* name, const kel_variant* value,          \
                               ITEM** out);                                                   \
    uint32_t(KEL_STDCALL* Insert)(void* self, int32_t pos, const CH* name,                    \
                                  const kel_variant* value, ITEM** out);                      \
    uint32_t(KEL_STDCALL* SetValue)(void* self, const CH* name, const kel_variant* value,     \
                                    uint8_t addIfMissing, ITEM** out);                        \
    uint32_t(KEL_STDCALL* AddItem)(void* self, ITEM* source, ITEM** out);                     \
  } NAME;

KEL_LIST_VTBL(IkelParamsListAVtbl, char, IkelParamsListItemA)
KEL_LIST_VTBL(IkelParamsListWVtbl, kel_char16, IkelParamsListItemW)
#undef KEL_LIST_VTBL

struct IkelParamsListA {
  const IkelParamsListAVtbl* vtbl;
};
struct IkelParamsListW {
  const IkelParamsListWVtbl* vtbl;
};

/* Interface identities. */
#define KEL_IID_ITEM_A {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB4}}
#define KEL_IID_ITEM_W {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB6}}
#define KEL_IID_LIST_A {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB1}}
#define KEL_IID_LIST_W {0x33316D29, 0x0F86, 0x41C4, {0x8D, 0xB4, 0x3F, 0xE9, 0x75, 0x61, 0x58, 0xB2}}

/* ---- Exports of the module ---------------------------------------------- */

typedef int32_t(KEL_STDCALL* kel_CreatePluginInstance)(TPluginCallRec* rec);
typedef int32_t(KEL_STDCALL* kel_FreePluginInstance)(TPluginCallRec* rec);
typedef uint8_t(KEL_STDCALL* kel_GetModuleInfo)(TPluginCallRec* rec, TPluginModuleInfo* info,
                                                 uint32_t* needed);
typedef int32_t(KEL_STDCALL* kel_GetLogEx)(TPluginCallRec* rec);
typedef void(KEL_STDCALL* kel_GetOptionsDialog)(TPluginCallRec* rec);
typedef void(KEL_STDCALL* kel_ShowOptionsDialog)(TPluginCallRec* rec);
typedef int32_t(KEL_STDCALL* kel_ExecutePluginCommand)(TPluginCallRec* rec);
typedef int32_t(KEL_STDCALL* kel_ProcessData)(TPluginCallRec* rec);

/* ---- Entry points a host exports ---------------------------------------- */

typedef int32_t(KEL_STDCALL* kel_DataLogger_SendDataEx)(int32_t moduleIndex, int32_t dataSourceId,
                                                         int32_t reserved1, int32_t reserved2,
                                                         int32_t kind, void* data, int32_t count);

#ifdef __cplusplus
} /* extern "C" */
#endif

#if defined(__cplusplus)
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(TPluginValue) == 13, "TPluginValue is 13 bytes on 32-bit builds");
static_assert(sizeof(TPluginCallRec) == 102, "TPluginCallRec is 102 bytes on 32-bit builds");
static_assert(sizeof(TPluginModuleInfo) == 33, "module-info header is 33 bytes on 32-bit builds");
static_assert(sizeof(kel_variant) == 16, "VARIANT is 16 bytes on 32-bit builds");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(TPluginValue) == 17, "TPluginValue is 17 bytes on 64-bit builds");
static_assert(sizeof(TPluginCallRec) == 114, "TPluginCallRec is 114 bytes on 64-bit builds");
static_assert(sizeof(TPluginModuleInfo) == 41, "module-info header is 41 bytes on 64-bit builds");
static_assert(sizeof(kel_variant) == 24, "VARIANT is 24 bytes on 64-bit builds");
static_assert(offsetof(TPluginCallRec, Params) == 22 && offsetof(TPluginCallRec, Input) == 30 &&
                  offsetof(TPluginCallRec, Output) == 47 &&
                  offsetof(TPluginCallRec, PeerAddress) == 64,
              "call record offsets");
#endif
#endif

#endif /* BACNETIP_PLUGIN_ABI_H */
