// The binary shape that automation clients know: identifiers, status codes,
// counted UTF-16 strings, variants, the argument and exception blocks, type
// descriptions and the interface layouts, declared here from their public
// documentation. A Windows build takes all of it from the platform's own
// headers instead, so the binding code compiles unchanged against either.
// Member names follow the platform's "no nameless union" spelling; code
// reaches variant fields through the V_ accessors.
#pragma once

#ifdef _WIN32
#define NONAMELESSUNION
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// MinGW-w64 leaves the unions of the type descriptions nameless even under
// NONAMELESSUNION; they are named "u" here, as the platform documents them.
#undef __C89_NAMELESSUNIONNAME
#define __C89_NAMELESSUNIONNAME u
#include <ole2.h>
#include <oaidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <dispex.h>
#else

#include <cstddef>
#include <cstdint>

#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT
#define WINOLEAUTAPI extern "C" HRESULT
#define WINOLEAUTAPI_(type) extern "C" type

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using ULONG_PTR = std::uintptr_t;
using FLOAT = float;
using DOUBLE = double;
using CHAR = char;
using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using LCID = DWORD;
using DISPID = LONG;
using MEMBERID = DISPID;
using HREFTYPE = DWORD;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = SHORT;
using DATE = double;
using PVOID = void*;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;
inline bool operator==(const GUID& a, const GUID& b) noexcept {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool IsEqualGUID(const GUID& a, const GUID& b) noexcept { return a == b; }

// Status codes.
#define QP_HR(x) static_cast<HRESULT>(static_cast<std::uint32_t>(x))
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = QP_HR(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = QP_HR(0x80004002);
inline constexpr HRESULT E_POINTER = QP_HR(0x80004003);
inline constexpr HRESULT E_FAIL = QP_HR(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = QP_HR(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = QP_HR(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = QP_HR(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = QP_HR(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = QP_HR(0x80040111);
inline constexpr HRESULT REGDB_E_WRITEREGDB = QP_HR(0x80040151);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = QP_HR(0x80040154);
inline constexpr HRESULT CO_E_CLASSSTRING = QP_HR(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = QP_HR(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = QP_HR(0x800401F9);
inline constexpr HRESULT SELFREG_E_TYPELIB = QP_HR(0x80040200);
inline constexpr HRESULT SELFREG_E_CLASS = QP_HR(0x80040201);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = QP_HR(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = QP_HR(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = QP_HR(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = QP_HR(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = QP_HR(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = QP_HR(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = QP_HR(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = QP_HR(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = QP_HR(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = QP_HR(0x8002000B);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = QP_HR(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = QP_HR(0x8002000F);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = QP_HR(0x8002802B);
inline constexpr HRESULT TYPE_E_WRONGTYPEKIND = QP_HR(0x8002802A);

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr DISPID DISPID_NEWENUM = -4;
inline constexpr MEMBERID MEMBERID_NIL = -1;

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6,
    VT_DATE = 7, VT_BSTR = 8, VT_DISPATCH = 9, VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12,
    VT_UNKNOWN = 13, VT_DECIMAL = 14, VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19,
    VT_I8 = 20, VT_UI8 = 21, VT_INT = 22, VT_UINT = 23, VT_VOID = 24, VT_HRESULT = 25,
    VT_PTR = 26, VT_SAFEARRAY = 27, VT_CARRAY = 28, VT_USERDEFINED = 29, VT_LPSTR = 30,
    VT_LPWSTR = 31, VT_RECORD = 36, VT_ARRAY = 0x2000, VT_BYREF = 0x4000, VT_TYPEMASK = 0xFFF,
};

struct IUnknown;
struct IDispatch;
struct IRecordInfo;
struct ITypeInfo;
struct ITypeLib;
struct ITypeComp;

union CY {
    struct {
        ULONG Lo;
        LONG Hi;
    } s;
    LONGLONG int64;
};

struct DECIMAL {
    USHORT wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
};

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};
struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    PVOID pvData;
    SAFEARRAYBOUND rgsabound[1];
};

// 16 bytes on 32-bit systems, 24 on 64-bit ones (the record pair of
// pointers sets the size).
struct VARIANT {
    union {
        struct {
            VARTYPE vt;
            WORD wReserved1;
            WORD wReserved2;
            WORD wReserved3;
            union {
                LONGLONG llVal;
                LONG lVal;
                BYTE bVal;
                SHORT iVal;
                FLOAT fltVal;
                DOUBLE dblVal;
                VARIANT_BOOL boolVal;
                SCODE scode;
                CY cyVal;
                DATE date;
                BSTR bstrVal;
                IUnknown* punkVal;
                IDispatch* pdispVal;
                SAFEARRAY* parray;
                BYTE* pbVal;
                SHORT* piVal;
                LONG* plVal;
                LONGLONG* pllVal;
                FLOAT* pfltVal;
                DOUBLE* pdblVal;
                VARIANT_BOOL* pboolVal;
                SCODE* pscode;
                CY* pcyVal;
                DATE* pdate;
                BSTR* pbstrVal;
                IUnknown** ppunkVal;
                IDispatch** ppdispVal;
                SAFEARRAY** pparray;
                VARIANT* pvarVal;
                PVOID byref;
                CHAR cVal;
                USHORT uiVal;
                ULONG ulVal;
                ULONGLONG ullVal;
                INT intVal;
                UINT uintVal;
                struct {
                    PVOID pvRecord;
                    IRecordInfo* pRecInfo;
                } brecVal;
            } n3;
        } n2;
        DECIMAL decVal;
    } n1;
};
using VARIANTARG = VARIANT;
static_assert(sizeof(VARIANT) == (sizeof(void*) == 8 ? 24 : 16));

#define V_VT(X) ((X)->n1.n2.vt)
#define V_ISBYREF(X) (V_VT(X) & VT_BYREF)
#define V_I2(X) ((X)->n1.n2.n3.iVal)
#define V_I4(X) ((X)->n1.n2.n3.lVal)
#define V_I8(X) ((X)->n1.n2.n3.llVal)
#define V_I1(X) ((X)->n1.n2.n3.cVal)
#define V_UI1(X) ((X)->n1.n2.n3.bVal)
#define V_UI2(X) ((X)->n1.n2.n3.uiVal)
#define V_UI4(X) ((X)->n1.n2.n3.ulVal)
#define V_UI8(X) ((X)->n1.n2.n3.ullVal)
#define V_INT(X) ((X)->n1.n2.n3.intVal)
#define V_UINT(X) ((X)->n1.n2.n3.uintVal)
#define V_R4(X) ((X)->n1.n2.n3.fltVal)
#define V_R8(X) ((X)->n1.n2.n3.dblVal)
#define V_CY(X) ((X)->n1.n2.n3.cyVal)
#define V_DATE(X) ((X)->n1.n2.n3.date)
#define V_BSTR(X) ((X)->n1.n2.n3.bstrVal)
#define V_BOOL(X) ((X)->n1.n2.n3.boolVal)
#define V_ERROR(X) ((X)->n1.n2.n3.scode)
#define V_UNKNOWN(X) ((X)->n1.n2.n3.punkVal)
#define V_DISPATCH(X) ((X)->n1.n2.n3.pdispVal)
#define V_ARRAY(X) ((X)->n1.n2.n3.parray)
#define V_BYREF(X) ((X)->n1.n2.n3.byref)
#define V_VARIANTREF(X) ((X)->n1.n2.n3.pvarVal)

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// Type descriptions.
enum TYPEKIND : std::int32_t {
    TKIND_ENUM = 0, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH,
    TKIND_COCLASS, TKIND_ALIAS, TKIND_UNION, TKIND_MAX
};
enum FUNCKIND : std::int32_t {
    FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH
};
enum INVOKEKIND : std::int32_t {
    INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4, INVOKE_PROPERTYPUTREF = 8
};
enum CALLCONV : std::int32_t { CC_FASTCALL = 0, CC_CDECL = 1, CC_PASCAL = 2, CC_MACPASCAL = 3, CC_STDCALL = 4 };
enum TYPEFLAGS : std::int32_t {
    TYPEFLAG_FAPPOBJECT = 0x1, TYPEFLAG_FCANCREATE = 0x2, TYPEFLAG_FLICENSED = 0x4,
    TYPEFLAG_FPREDECLID = 0x8, TYPEFLAG_FHIDDEN = 0x10, TYPEFLAG_FCONTROL = 0x20,
    TYPEFLAG_FDUAL = 0x40, TYPEFLAG_FNONEXTENSIBLE = 0x80, TYPEFLAG_FOLEAUTOMATION = 0x100,
    TYPEFLAG_FRESTRICTED = 0x200, TYPEFLAG_FAGGREGATABLE = 0x400, TYPEFLAG_FREPLACEABLE = 0x800,
    TYPEFLAG_FDISPATCHABLE = 0x1000,
};
inline constexpr USHORT PARAMFLAG_NONE = 0;
inline constexpr USHORT PARAMFLAG_FIN = 0x1;
inline constexpr USHORT PARAMFLAG_FOUT = 0x2;
inline constexpr USHORT PARAMFLAG_FRETVAL = 0x8;
inline constexpr USHORT PARAMFLAG_FOPT = 0x10;

struct ARRAYDESC;
struct TYPEDESC {
    union {
        TYPEDESC* lptdesc;
        ARRAYDESC* lpadesc;
        HREFTYPE hreftype;
    } u;
    VARTYPE vt;
};
struct IDLDESC {
    ULONG_PTR dwReserved;
    USHORT wIDLFlags;
};
struct PARAMDESCEX;
struct PARAMDESC {
    PARAMDESCEX* pparamdescex;
    USHORT wParamFlags;
};
struct ELEMDESC {
    TYPEDESC tdesc;
    union {
        IDLDESC idldesc;
        PARAMDESC paramdesc;
    } u;
};
struct TYPEATTR {
    GUID guid;
    LCID lcid;
    DWORD dwReserved;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    LPOLESTR lpstrSchema;
    ULONG cbSizeInstance;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD cbSizeVft;
    WORD cbAlignment;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    TYPEDESC tdescAlias;
    IDLDESC idldescType;
};
struct FUNCDESC {
    MEMBERID memid;
    SCODE* lprgscode;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    CALLCONV callconv;
    SHORT cParams;
    SHORT cParamsOpt;
    SHORT oVft;
    SHORT cScodes;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};
enum VARKIND : std::int32_t { VAR_PERINSTANCE = 0, VAR_STATIC, VAR_CONST, VAR_DISPATCH };
struct VARDESC {
    MEMBERID memid;
    LPOLESTR lpstrSchema;
    union {
        ULONG oInst;
        VARIANT* lpvarValue;
    } u;
    ELEMDESC elemdescVar;
    WORD wVarFlags;
    VARKIND varkind;
};
enum SYSKIND : std::int32_t { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 };
struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};
inline constexpr INT IMPLTYPEFLAG_FDEFAULT = 0x1;

// Interface layouts: classes of pure virtual functions and nothing else, so
// that the compiler lays out one table of function pointers in declaration
// order, as every automation client expects.
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

struct IDispatch : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                    LCID lcid, DISPID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                             DISPPARAMS* params, VARIANT* result,
                                             EXCEPINFO* exception, UINT* argError) = 0;
};

// The extended dispatch interface of script engines' own objects; only its
// name lookup is used here, so only the slots up to it are declared.
inline constexpr DWORD fdexNameCaseInsensitive = 0x00000008;
struct IDispatchEx : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetDispID(BSTR name, DWORD flags, DISPID* id) = 0;
};

struct IEnumVARIANT : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) = 0;
};

struct ITypeInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** attr) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** comp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** desc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** desc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNames(MEMBERID id, BSTR* names, UINT max, UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* ref) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(PVOID instance, MEMBERID id, WORD flags,
                                             DISPPARAMS* params, VARIANT* result,
                                             EXCEPINFO* exception, UINT* argError) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc,
                                                       DWORD* helpContext, BSTR* helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID id, INVOKEKIND kind, BSTR* dll,
                                                  BSTR* name, WORD* ordinal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID id, INVOKEKIND kind, PVOID* address) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, PVOID* object) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMops(MEMBERID id, BSTR* mops) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** lib, UINT* index) = 0;
    virtual void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attr) = 0;
    virtual void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* desc) = 0;
    virtual void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* desc) = 0;
};

struct ITypeLib : IUnknown {
    virtual UINT STDMETHODCALLTYPE GetTypeInfoCount() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* kind) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** attr) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** comp) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext,
                                                       BSTR* helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsName(LPOLESTR name, ULONG hash, BOOL* found) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* ids,
                                               USHORT* found) = 0;
    virtual void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attr) = 0;
};

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

struct IErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* helpContext) = 0;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR source) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR description) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD helpContext) = 0;
};

// The well-known interface identifiers.
inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_IUnknown = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeInfo = {0x00020401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeLib = {0x00020402, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumVARIANT = {0x00020404, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// The automation runtime (libqpcom on this system).
WINOLEAUTAPI_(BSTR) SysAllocString(const OLECHAR* text);
WINOLEAUTAPI_(BSTR) SysAllocStringLen(const OLECHAR* text, UINT length);
WINOLEAUTAPI_(void) SysFreeString(BSTR text);
WINOLEAUTAPI_(UINT) SysStringLen(BSTR text);
WINOLEAUTAPI_(UINT) SysStringByteLen(BSTR text);
WINOLEAUTAPI_(void) VariantInit(VARIANTARG* value);
WINOLEAUTAPI VariantClear(VARIANTARG* value);
WINOLEAUTAPI VariantCopy(VARIANTARG* target, const VARIANTARG* source);
WINOLEAUTAPI SetErrorInfo(ULONG reserved, IErrorInfo* info);
WINOLEAUTAPI GetErrorInfo(ULONG reserved, IErrorInfo** info);
WINOLEAUTAPI CreateErrorInfo(ICreateErrorInfo** info);
STDAPI CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
STDAPI CLSIDFromString(LPCOLESTR text, CLSID* clsid);
extern "C" int StringFromGUID2(REFGUID guid, LPOLESTR text, int size);
STDAPI CoGetClassObject(REFCLSID clsid, DWORD context, void* server, REFIID riid, void** object);
STDAPI CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);
extern "C" void CoFreeUnusedLibraries();

#endif  // _WIN32
