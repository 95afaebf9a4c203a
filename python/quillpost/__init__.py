"""Quillpost from Python: create the component's automation objects by
program identifier and drive them late-bound by name.

    import quillpost
    m = quillpost.CreateObject("Quillpost.Message")
    m.Server = "mail.example.org"
    m.FromAddress = "web@example.org"
    m.Recipients.Add("ann@example.org", "Ann")
    m.Subject = "Hello"
    m.TextBody = "Hello, Ann."
    m.send()

Pure Python over ctypes: the automation runtime (libqpcom) creates the
object from the registry, and every call goes through the object's
IDispatch, whose members are learnt from its type information.
"""

import ctypes
import ctypes.util
import datetime
import decimal
import enum
import fractions
import os
import weakref

__all__ = ["CreateObject", "Dispatch", "Error", "Missing", "QP_PRIORITY"]


class QP_PRIORITY(enum.IntEnum):
    """The values of Message.Priority, as the type library declares them."""
    QP_PRIORITY_NONE = 0
    QP_PRIORITY_HIGHEST = 1
    QP_PRIORITY_HIGH = 2
    QP_PRIORITY_NORMAL = 3
    QP_PRIORITY_LOW = 4
    QP_PRIORITY_LOWEST = 5


globals().update(QP_PRIORITY.__members__)
__all__ += list(QP_PRIORITY.__members__)

# --- the binary shapes --------------------------------------------------------

HRESULT = ctypes.c_int32
c_void_p = ctypes.c_void_p


class GUID(ctypes.Structure):
    _fields_ = [("Data1", ctypes.c_uint32), ("Data2", ctypes.c_uint16),
                ("Data3", ctypes.c_uint16), ("Data4", ctypes.c_uint8 * 8)]

    @classmethod
    def parse(cls, text):
        h = text.strip("{}").replace("-", "")
        b = bytes.fromhex(h)
        return cls(int.from_bytes(b[0:4], "big"), int.from_bytes(b[4:6], "big"),
                   int.from_bytes(b[6:8], "big"), (ctypes.c_uint8 * 8)(*b[8:16]))

    def __eq__(self, other):
        return bytes(self) == bytes(other)

    def __hash__(self):
        return hash(bytes(self))


class _VariantValue(ctypes.Union):
    _fields_ = [("llVal", ctypes.c_int64), ("lVal", ctypes.c_int32), ("iVal", ctypes.c_int16),
                ("bVal", ctypes.c_uint8), ("fltVal", ctypes.c_float), ("dblVal", ctypes.c_double),
                ("boolVal", ctypes.c_int16), ("scode", ctypes.c_int32), ("ptr", c_void_p),
                ("record", c_void_p * 2)]


class VARIANT(ctypes.Structure):
    _fields_ = [("vt", ctypes.c_uint16), ("r1", ctypes.c_uint16), ("r2", ctypes.c_uint16),
                ("r3", ctypes.c_uint16), ("v", _VariantValue)]


class DISPPARAMS(ctypes.Structure):
    _fields_ = [("rgvarg", ctypes.POINTER(VARIANT)), ("rgdispidNamedArgs", ctypes.POINTER(ctypes.c_int32)),
                ("cArgs", ctypes.c_uint32), ("cNamedArgs", ctypes.c_uint32)]


class EXCEPINFO(ctypes.Structure):
    _fields_ = [("wCode", ctypes.c_uint16), ("wReserved", ctypes.c_uint16), ("bstrSource", c_void_p),
                ("bstrDescription", c_void_p), ("bstrHelpFile", c_void_p), ("dwHelpContext", ctypes.c_uint32),
                ("pvReserved", c_void_p), ("pfnDeferredFillIn", c_void_p), ("scode", ctypes.c_int32)]


class TYPEDESC(ctypes.Structure):
    _fields_ = [("u", c_void_p), ("vt", ctypes.c_uint16)]


class ELEMDESC(ctypes.Structure):
    _fields_ = [("tdesc", TYPEDESC), ("reserved", c_void_p), ("wParamFlags", ctypes.c_uint16)]


PARAMFLAG_FOPT = 0x10


class TYPEATTR(ctypes.Structure):
    _fields_ = [("guid", GUID), ("lcid", ctypes.c_uint32), ("dwReserved", ctypes.c_uint32),
                ("memidConstructor", ctypes.c_int32), ("memidDestructor", ctypes.c_int32),
                ("lpstrSchema", c_void_p), ("cbSizeInstance", ctypes.c_uint32), ("typekind", ctypes.c_int32),
                ("cFuncs", ctypes.c_uint16), ("cVars", ctypes.c_uint16), ("cImplTypes", ctypes.c_uint16),
                ("cbSizeVft", ctypes.c_uint16), ("cbAlignment", ctypes.c_uint16), ("wTypeFlags", ctypes.c_uint16),
                ("wMajorVerNum", ctypes.c_uint16), ("wMinorVerNum", ctypes.c_uint16),
                ("tdescAlias", TYPEDESC), ("idldescType", c_void_p * 2)]


class FUNCDESC(ctypes.Structure):
    _fields_ = [("memid", ctypes.c_int32), ("lprgscode", c_void_p), ("lprgelemdescParam", ctypes.POINTER(ELEMDESC)),
                ("funckind", ctypes.c_int32), ("invkind", ctypes.c_int32), ("callconv", ctypes.c_int32),
                ("cParams", ctypes.c_int16), ("cParamsOpt", ctypes.c_int16), ("oVft", ctypes.c_int16),
                ("cScodes", ctypes.c_int16), ("elemdescFunc", ELEMDESC), ("wFuncFlags", ctypes.c_uint16)]


VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL, \
    VT_VARIANT, VT_UNKNOWN = range(14)
VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT = range(16, 24)
VT_PTR = 26
VT_BYREF = 0x4000
DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT = 1, 2, 4
DISPID_VALUE, DISPID_PROPERTYPUT, DISPID_NEWENUM = 0, -3, -4
INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT = 1, 2, 4
S_OK, S_FALSE = 0, 1


def _hr(x):
    return ctypes.c_int32(x).value


E_NOTIMPL = _hr(0x80004001)
E_NOINTERFACE = _hr(0x80004002)
E_FAIL = _hr(0x80004005)
DISP_E_MEMBERNOTFOUND = _hr(0x80020003)
DISP_E_PARAMNOTFOUND = _hr(0x80020004)
DISP_E_UNKNOWNNAME = _hr(0x80020006)
DISP_E_EXCEPTION = _hr(0x80020009)
REGDB_E_CLASSNOTREG = _hr(0x80040154)
CLSCTX_INPROC_SERVER = 1
IID_NULL = GUID()
IID_IUnknown = GUID.parse("{00000000-0000-0000-C000-000000000046}")
IID_IDispatch = GUID.parse("{00020400-0000-0000-C000-000000000046}")
IID_IEnumVARIANT = GUID.parse("{00020404-0000-0000-C000-000000000046}")
LCID = 0x409

# The dispatch layer's statuses as a script sees them: the number and text of
# its run-time error.
_SCRIPT_ERRORS = {
    _hr(0x80020003): (438, "Object doesn't support this property or method"),
    _hr(0x80020006): (438, "Object doesn't support this property or method"),
    _hr(0x80020005): (13, "Type mismatch"),
    _hr(0x8002000A): (6, "Overflow"),
    _hr(0x8002000F): (449, "Argument not optional"),
    _hr(0x8002000E): (450, "Wrong number of arguments or invalid property assignment"),
    _hr(0x80020004): (448, "Named argument not found"),
    _hr(0x80020007): (446, "Object doesn't support named arguments"),
    _hr(0x80020008): (458, "Variable uses an Automation type not supported"),
    _hr(0x8007000E): (7, "Out of memory"),
    _hr(0x80040154): (429, "ActiveX component can't create object"),
    _hr(0x800401F3): (429, "ActiveX component can't create object"),
    _hr(0x800401F8): (429, "ActiveX component can't create object"),
}

_STATUS_NAMES = {
    _hr(0x80020003): "DISP_E_MEMBERNOTFOUND", _hr(0x80020004): "DISP_E_PARAMNOTFOUND",
    _hr(0x80020005): "DISP_E_TYPEMISMATCH", _hr(0x80020006): "DISP_E_UNKNOWNNAME",
    _hr(0x8002000A): "DISP_E_OVERFLOW", _hr(0x8002000E): "DISP_E_BADPARAMCOUNT",
    _hr(0x8002000F): "DISP_E_PARAMNOTOPTIONAL", _hr(0x80040154): "REGDB_E_CLASSNOTREG",
    _hr(0x800401F3): "CO_E_CLASSSTRING", _hr(0x800401F8): "CO_E_DLLNOTFOUND",
    _hr(0x80004002): "E_NOINTERFACE", _hr(0x8007000E): "E_OUTOFMEMORY",
}


# --- the runtime ---------------------------------------------------------------

def _find_runtime():
    path = os.environ.get("QUILLPOST_RUNTIME")
    if path:
        return path
    try:
        from quillpost import _paths
        if os.path.exists(_paths.RUNTIME):
            return _paths.RUNTIME
    except ImportError:
        pass
    return ctypes.util.find_library("qpcom") or "libqpcom.so"


_runtime_path = _find_runtime()
_rt = ctypes.CDLL(_runtime_path)
_rt.SysAllocStringLen.restype = c_void_p
_rt.SysAllocStringLen.argtypes = [c_void_p, ctypes.c_uint32]
_rt.SysStringLen.restype = ctypes.c_uint32
_rt.SysStringLen.argtypes = [c_void_p]
_rt.SysFreeString.argtypes = [c_void_p]
_rt.VariantClear.argtypes = [ctypes.POINTER(VARIANT)]
_rt.CLSIDFromProgID.argtypes = [c_void_p, ctypes.POINTER(GUID)]
_rt.CLSIDFromString.argtypes = [c_void_p, ctypes.POINTER(GUID)]
_rt.CoCreateInstance.argtypes = [ctypes.POINTER(GUID), c_void_p, ctypes.c_uint32, ctypes.POINTER(GUID),
                                 ctypes.POINTER(c_void_p)]
_rt.GetErrorInfo.argtypes = [ctypes.c_uint32, ctypes.POINTER(c_void_p)]
_rt.CoFreeUnusedLibraries.argtypes = []


def _wide(text):
    """A NUL-terminated UTF-16 copy of text, kept alive by the caller."""
    return ctypes.create_string_buffer(text.encode("utf-16-le") + b"\0\0")


def _bstr(text):
    data = text.encode("utf-16-le", "surrogatepass")
    return _rt.SysAllocStringLen(data, len(data) // 2)


def _text(bstr):
    if not bstr:
        return ""
    n = _rt.SysStringLen(bstr)
    return ctypes.string_at(bstr, 2 * n).decode("utf-16-le", "replace")


def _read_wide(address):
    """A NUL-terminated UTF-16 text at address."""
    out = bytearray()
    while True:
        pair = ctypes.string_at(address + len(out), 2)
        if pair == b"\0\0":
            return out.decode("utf-16-le", "replace")
        out += pair


_prototypes = {}


def _vcall(this, index, restype, argtypes, *args):
    """Calls slot index of the interface at this."""
    key = (index, restype, tuple(argtypes))
    proto = _prototypes.get(key)
    if proto is None:
        proto = _prototypes[key] = ctypes.CFUNCTYPE(restype, c_void_p, *argtypes)
    table = ctypes.cast(ctypes.c_void_p.from_address(this).value, ctypes.POINTER(c_void_p))
    return proto(table[index])(this, *args)


def _release(this):
    _vcall(this, 2, ctypes.c_uint32, [])


def _addref(this):
    _vcall(this, 1, ctypes.c_uint32, [])


def _query(this, iid):
    out = c_void_p()
    hr = _vcall(this, 0, HRESULT, [ctypes.POINTER(GUID), ctypes.POINTER(c_void_p)], ctypes.byref(iid), ctypes.byref(out))
    return out.value if hr == S_OK else None


# --- errors ----------------------------------------------------------------------

class Error(Exception):
    """A failed automation call: the number and description a script would
    see (an error the component raised arrives as status 0x800A0000 + number;
    a refusal of the dispatch layer gets its run-time error number, such as 13
    or 438, and source "Quillpost"), the source and the status itself."""

    def __init__(self, hresult, description="", source="", number=None):
        hresult = _hr(hresult)
        script = _SCRIPT_ERRORS.get(hresult)
        if number is None:
            unsigned = hresult & 0xFFFFFFFF
            number = (unsigned & 0xFFFF if unsigned & 0xFFFF0000 == 0x800A0000 else
                      script[0] if script else hresult)
        if not description:
            description = script[1] if script else _STATUS_NAMES.get(hresult, "status 0x%08X" % (hresult & 0xFFFFFFFF))
        if not source and script:
            source = "Quillpost"
        # The component's own numbers in decimal, as its error table has them;
        # any other status in hexadecimal, as the platform documents it.
        unsigned = hresult & 0xFFFFFFFF
        shown = "%d" % number if unsigned & 0xFFFF0000 == 0x800A0000 or hresult >= 0 else "0x%08X" % unsigned
        super().__init__("%s (%s)" % (description, shown))
        self.number = number
        self.description = description
        self.source = source
        self.hresult = hresult


class UnknownNameError(Error, AttributeError):
    """A name the object does not know, or a property it does not let be
    set: number 438, as a script sees it."""

    def __init__(self, hresult, member=""):
        super().__init__(hresult)
        if member:
            self.args = ("%s: %s (%d)" % (self.description, member, self.number),)


class _MissingType:
    def __repr__(self):
        return "quillpost.Missing"


# The value of a parameter left out.
Missing = _MissingType()

# --- values ------------------------------------------------------------------------

_DATE_BASE = datetime.datetime(1899, 12, 30)


def _date_days(value):
    """An automation date (days since 30 December 1899, local time) of a
    date, or of a datetime: an aware one is first converted to local time."""
    if not isinstance(value, datetime.datetime):
        value = datetime.datetime.combine(value, datetime.time())
    elif value.utcoffset() is not None:
        value = value.astimezone().replace(tzinfo=None)
    return (value - _DATE_BASE) / datetime.timedelta(days=1)


def _to_variant(value, out, keep, objects=False):
    """Fills out from a Python value; what must be released later is
    recorded in keep. Any other Python object is handed in (as an object the
    component calls by name) only where objects is true: a parameter that
    takes an object, or a value that a handed-in object gives back."""
    out.vt = VT_EMPTY
    if value is None:
        return
    if value is Missing:
        out.vt, out.v.scode = VT_ERROR, DISP_E_PARAMNOTFOUND
    elif isinstance(value, bool):
        out.vt, out.v.boolVal = VT_BOOL, -1 if value else 0
    elif isinstance(value, int):
        if -2**31 <= value < 2**31:
            out.vt, out.v.lVal = VT_I4, value
        else:
            out.vt, out.v.dblVal = VT_R8, float(value)
    elif isinstance(value, (float, decimal.Decimal, fractions.Fraction)):
        out.vt, out.v.dblVal = VT_R8, float(value)
    elif isinstance(value, str):
        out.vt, out.v.ptr = VT_BSTR, _bstr(value)
    elif isinstance(value, datetime.date):
        out.vt, out.v.dblVal = VT_DATE, _date_days(value)
    elif isinstance(value, Dispatch):
        _addref(value._ptr)
        out.vt, out.v.ptr = VT_DISPATCH, value._ptr
    elif objects and not isinstance(value, (bytes, bytearray, memoryview, complex)):
        out.vt, out.v.ptr = VT_DISPATCH, _PythonObject.wrap(value)
    else:
        raise TypeError("quillpost passes text, numbers, booleans, dates, None and its own objects, "
                        "not %s" % type(value).__name__)
    keep.append(out)


def _from_variant(v):
    vt = v.vt
    if vt & VT_BYREF:
        target = v.v.ptr
        base = vt & ~VT_BYREF
        if base == VT_VARIANT:
            return _from_variant(VARIANT.from_address(target))
        copy = VARIANT()
        copy.vt = base
        ctypes.memmove(ctypes.addressof(copy.v), target, {VT_I2: 2, VT_BOOL: 2, VT_I4: 4, VT_R4: 4, VT_ERROR: 4,
                                                          VT_UI1: 1, VT_I1: 1, VT_UI2: 2}.get(base, 8))
        return _from_variant(copy)
    if vt in (VT_EMPTY, VT_NULL):
        return None
    if vt in (VT_I4, VT_INT):
        return v.v.lVal
    if vt == VT_I2:
        return v.v.iVal
    if vt in (VT_UI1, VT_I1, VT_UI2, VT_UI4, VT_UINT, VT_I8, VT_UI8):
        return ctypes.cast(ctypes.pointer(v.v), ctypes.POINTER({VT_UI1: ctypes.c_uint8, VT_I1: ctypes.c_int8,
                           VT_UI2: ctypes.c_uint16, VT_UI4: ctypes.c_uint32, VT_UINT: ctypes.c_uint32,
                           VT_I8: ctypes.c_int64, VT_UI8: ctypes.c_uint64}[vt]))[0]
    if vt == VT_R4:
        return v.v.fltVal
    if vt == VT_R8:
        return v.v.dblVal
    if vt == VT_BOOL:
        return v.v.boolVal != 0
    if vt == VT_BSTR:
        return _text(v.v.ptr)
    if vt == VT_DATE:
        return _DATE_BASE + datetime.timedelta(days=v.v.dblVal)
    if vt == VT_ERROR:
        return Missing if v.v.scode == DISP_E_PARAMNOTFOUND else v.v.scode
    if vt == VT_CY:
        return v.v.llVal / 10000
    if vt in (VT_DISPATCH, VT_UNKNOWN):
        if not v.v.ptr:
            return None
        own = _PythonObject.owner(v.v.ptr)
        if own is not None:
            return own
        dispatch = _query(v.v.ptr, IID_IDispatch)
        if dispatch:
            return _proxy(dispatch)
        _addref(v.v.ptr)
        return _Unknown(v.v.ptr)
    raise Error(_hr(0x80020008), "a value of variant type %d" % vt)


class _Unknown:
    """An object that offers no IDispatch (an enumerator)."""

    def __init__(self, ptr):
        self._ptr = ptr

    def __del__(self):
        if self._ptr:
            _release(self._ptr)
            self._ptr = None


# --- the proxy ------------------------------------------------------------------------

class _Members:
    """What the type information says about one interface: its name and, by
    lower-case member name, the identifier and, for each kind it can be
    called as, its parameters as (name, type, optional)."""

    def __init__(self, name):
        self.name = name
        self.by_name = {}

    def add(self, name, memid, invkind, params):
        entry = self.by_name.setdefault(name.lower(), {"id": memid, "name": name})
        entry[invkind] = params


_interfaces = {}  # by interface identifier


def _parameters(ti, f):
    """The parameters of the function f as (name, type, optional); a
    by-reference parameter is given by the type it points at."""
    names = (c_void_p * (f.cParams + 1))()
    got = ctypes.c_uint32()
    _vcall(ti, 7, HRESULT, [ctypes.c_int32, ctypes.POINTER(c_void_p), ctypes.c_uint32,
                            ctypes.POINTER(ctypes.c_uint32)], f.memid, names, f.cParams + 1, ctypes.byref(got))
    texts = [_text(names[i]) for i in range(got.value)]
    for i in range(got.value):
        _rt.SysFreeString(names[i])
    params = []
    for k in range(f.cParams):
        e = f.lprgelemdescParam[k]
        vt = TYPEDESC.from_address(e.tdesc.u).vt if e.tdesc.vt == VT_PTR else e.tdesc.vt
        params.append((texts[k + 1] if k + 1 < len(texts) else None, vt, bool(e.wParamFlags & PARAMFLAG_FOPT)))
    return (texts[0] if texts else None), params


def _learn(ptr):
    """The members of the object's interface, from its type information; None
    when it has none."""
    info = c_void_p()
    hr = _vcall(ptr, 4, HRESULT, [ctypes.c_uint32, ctypes.c_uint32, ctypes.POINTER(c_void_p)],
                0, LCID, ctypes.byref(info))
    if hr != S_OK or not info.value:
        return None
    ti = info.value
    try:
        attr = ctypes.POINTER(TYPEATTR)()
        if _vcall(ti, 3, HRESULT, [ctypes.POINTER(ctypes.POINTER(TYPEATTR))], ctypes.byref(attr)) != S_OK:
            return None
        guid = GUID.from_buffer_copy(attr.contents.guid)
        count = attr.contents.cFuncs
        _vcall(ti, 19, None, [c_void_p], ctypes.cast(attr, c_void_p))
        known = _interfaces.get(guid)
        if known is not None:
            return known
        name = c_void_p()
        _vcall(ti, 12, HRESULT, [ctypes.c_int32, ctypes.POINTER(c_void_p), c_void_p, c_void_p, c_void_p],
               -1, ctypes.byref(name), None, None, None)
        members = _Members(_text(name.value).lstrip("_") or "Dispatch")
        _rt.SysFreeString(name.value)
        for i in range(count):
            desc = ctypes.POINTER(FUNCDESC)()
            if _vcall(ti, 5, HRESULT, [ctypes.c_uint32, ctypes.POINTER(ctypes.POINTER(FUNCDESC))], i,
                      ctypes.byref(desc)) != S_OK:
                continue
            f = desc.contents
            member, params = _parameters(ti, f)
            if member:
                members.add(member, f.memid, f.invkind, params)
            _vcall(ti, 20, None, [c_void_p], ctypes.cast(desc, c_void_p))
        _interfaces[guid] = members
        return members
    finally:
        _release(ti)


_proxies = weakref.WeakValueDictionary()  # by interface pointer: the live proxy of each object


def _proxy(ptr):
    """The proxy of the object at ptr, whose reference it takes over: the one
    already alive for the same object, or a new one."""
    known = _proxies.get(ptr)
    if known is not None and known.__dict__.get("_ptr") == ptr:
        _release(ptr)
        return known
    made = _proxies[ptr] = Dispatch(ptr)
    return made


class Dispatch:
    """An automation object, called by name: attributes are its properties,
    methods are called (with arguments by position or by parameter name), the
    object itself called reads its default member, and iterating it walks its
    NewEnum. A collection also has len(), indexing from 0 and `in`."""

    def __init__(self, ptr):
        object.__setattr__(self, "_ptr", ptr)
        object.__setattr__(self, "_members", _learn(ptr))
        object.__setattr__(self, "_ids", {})

    def __del__(self):
        ptr = self.__dict__.get("_ptr")
        if ptr:
            self.__dict__["_ptr"] = None
            _release(ptr)

    def _member(self, name):
        members = self._members
        if members is not None:
            entry = members.by_name.get(name.lower())
            if entry is None:
                raise UnknownNameError(DISP_E_UNKNOWNNAME, member="%s.%s" % (self._name(), name))
            return entry
        memid = self._ids.get(name)
        if memid is None:
            buffer = _wide(name)
            names = (c_void_p * 1)(ctypes.addressof(buffer))
            ident = ctypes.c_int32()
            hr = _vcall(self._ptr, 5, HRESULT, [ctypes.POINTER(GUID), ctypes.POINTER(c_void_p), ctypes.c_uint32,
                                                ctypes.c_uint32, ctypes.POINTER(ctypes.c_int32)],
                        ctypes.byref(IID_NULL), names, 1, LCID, ctypes.byref(ident))
            if hr != S_OK:
                raise UnknownNameError(hr, member=name)
            memid = self._ids[name] = ident.value
        # Nothing is known of its kind: a callable, called as method or get.
        return {"id": memid, "name": name, INVOKE_FUNC: None, "late": True}

    def _name(self):
        return self._members.name if self._members is not None else "Dispatch"

    def _call(self, entry, invkind, flags, args, kwargs):
        """Calls a member with positional arguments and arguments named by
        the member's parameter names (in any letter case)."""
        params = entry.get(invkind) or []
        named = []
        for key, value in kwargs.items():
            positions = [i for i, p in enumerate(params) if p[0] and p[0].lower() == key.lower()]
            if not positions:
                raise TypeError("%s() got an unexpected keyword argument %r" % (entry["name"], key))
            if positions[0] < len(args) or any(positions[0] == n for n, _ in named):
                raise TypeError("%s() got multiple values for argument %r" % (entry["name"], key))
            named.append((positions[0], value))
        if entry.get("late"):
            flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET
        return self._invoke(entry["id"], flags, args, named, params)

    def _invoke(self, memid, flags, args, named=(), params=()):
        count = len(args) + len(named)
        array = (VARIANT * max(count, 1))()
        ids = (ctypes.c_int32 * max(len(named), 1))()
        keep = []

        def takes_object(position):
            return position < len(params) and params[position][1] == VT_DISPATCH

        try:
            # Named arguments come first, positional ones last and in reverse.
            for k, (position, value) in enumerate(named):
                _to_variant(value, array[k], keep, takes_object(position))
                ids[k] = position
            for i, value in enumerate(args):
                _to_variant(value, array[count - 1 - i], keep, takes_object(i))
            if flags == DISPATCH_PROPERTYPUT:
                ids[0] = DISPID_PROPERTYPUT
            named_count = 1 if flags == DISPATCH_PROPERTYPUT else len(named)
            params_block = DISPPARAMS(array, ids if named_count else None, count, named_count)
            result = VARIANT()
            exc = EXCEPINFO()
            arg_error = ctypes.c_uint32()
            hr = _vcall(self._ptr, 6, HRESULT,
                        [ctypes.c_int32, ctypes.POINTER(GUID), ctypes.c_uint32, ctypes.c_uint16,
                         ctypes.POINTER(DISPPARAMS), ctypes.POINTER(VARIANT), ctypes.POINTER(EXCEPINFO),
                         ctypes.POINTER(ctypes.c_uint32)],
                        memid, ctypes.byref(IID_NULL), LCID, flags, ctypes.byref(params_block),
                        ctypes.byref(result), ctypes.byref(exc), ctypes.byref(arg_error))
        finally:
            for v in keep:
                _rt.VariantClear(ctypes.byref(v))
        if hr == DISP_E_EXCEPTION:
            source, description = _text(exc.bstrSource), _text(exc.bstrDescription)
            for b in (exc.bstrSource, exc.bstrDescription, exc.bstrHelpFile):
                _rt.SysFreeString(b)
            raise Error(exc.scode or hr, description, source, exc.wCode or None)
        if hr < 0:
            error = Error(hr)
            error.argument = arg_error.value
            raise error
        try:
            return _from_variant(result)
        finally:
            _rt.VariantClear(ctypes.byref(result))

    def __getattr__(self, name):
        if name.startswith("_"):  # the proxy's own attributes; no member's name starts so
            raise AttributeError(name)
        entry = self._member(name)
        if INVOKE_FUNC in entry or entry.get(INVOKE_PROPERTYGET):
            # A method, or a property that takes arguments: a callable.
            invkind = INVOKE_FUNC if INVOKE_FUNC in entry else INVOKE_PROPERTYGET
            flags = DISPATCH_METHOD if invkind == INVOKE_FUNC else DISPATCH_PROPERTYGET | DISPATCH_METHOD

            def call(*args, **kwargs):
                return self._call(entry, invkind, flags, args, kwargs)
            call.__name__ = call.__qualname__ = entry["name"]
            return call
        if INVOKE_PROPERTYGET not in entry:
            raise UnknownNameError(DISP_E_MEMBERNOTFOUND, member="%s.%s can only be set" % (self._name(), entry["name"]))
        return self._invoke(entry["id"], DISPATCH_PROPERTYGET, ())

    def __setattr__(self, name, value):
        entry = self._member(name)
        if not entry.get("late") and INVOKE_PROPERTYPUT not in entry:
            raise UnknownNameError(DISP_E_MEMBERNOTFOUND, member="%s.%s cannot be set" % (self._name(), entry["name"]))
        self._invoke(entry["id"], DISPATCH_PROPERTYPUT, (value,), (), entry.get(INVOKE_PROPERTYPUT) or ())

    def __dir__(self):
        members = self._members.by_name.values() if self._members is not None else ()
        return sorted(set(object.__dir__(self)) | {e["name"] for e in members})

    def __call__(self, *args):
        return self._invoke(DISPID_VALUE, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args)

    def __iter__(self):
        items = self._invoke(DISPID_NEWENUM, DISPATCH_PROPERTYGET | DISPATCH_METHOD, ())
        source = items._ptr if isinstance(items, (Dispatch, _Unknown)) else None
        enum = _query(source, IID_IEnumVARIANT) if source else None
        if not enum:
            raise Error(E_NOINTERFACE, "the object hands out no enumerator")
        try:
            while True:
                item = VARIANT()
                fetched = ctypes.c_uint32()
                hr = _vcall(enum, 3, HRESULT, [ctypes.c_uint32, ctypes.POINTER(VARIANT), ctypes.POINTER(ctypes.c_uint32)],
                            1, ctypes.byref(item), ctypes.byref(fetched))
                if hr < 0:
                    raise Error(hr)
                if fetched.value == 0:
                    return
                try:
                    value = _from_variant(item)
                finally:
                    _rt.VariantClear(ctypes.byref(item))
                yield value
        finally:
            _release(enum)

    # --- a collection as a Python sequence: positions from 0 -------------------------

    def _collection(self):
        members = self._members
        if members is None or "count" not in members.by_name or "item" not in members.by_name:
            raise TypeError("a %s is not a collection" % self._name())

    def __len__(self):
        self._collection()
        return self.Count

    def __bool__(self):
        members = self._members
        return members is None or "count" not in members.by_name or len(self) > 0

    def __getitem__(self, index):
        """Items by position from 0 (negative ones from the end), by slice,
        or by the text key that Item takes."""
        self._collection()
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        if isinstance(index, str):
            try:
                return self.Item(index)
            except Error as error:
                if error.number in (5, 9):  # no item has this key
                    raise KeyError(index) from error
                raise
        if isinstance(index, bool) or not isinstance(index, int):
            raise TypeError("collection indexes are integers, slices or text keys, not %s" % type(index).__name__)
        count = len(self)
        position = index + count if index < 0 else index
        if not 0 <= position < count:
            raise IndexError("%s index out of range" % self._name())
        return self.Item(position + 1)

    def __contains__(self, value):
        """An item itself, or the default value of an item (a recipient's
        Address, a header's Name, an attachment's FileName)."""
        self._collection()
        for item in self:
            if item == value or (not isinstance(value, Dispatch) and item() == value):
                return True
        return False

    # --- identity and display -------------------------------------------------------------

    def _identity(self):
        """The object's IUnknown: equal for every interface of one object."""
        unknown = _query(self._ptr, IID_IUnknown)
        if unknown:
            _release(unknown)
        return unknown

    def __eq__(self, other):
        if not isinstance(other, Dispatch):
            return NotImplemented
        return self is other or self._identity() == other._identity()

    def __hash__(self):
        return hash(self._identity())

    def __repr__(self):
        members = self._members
        if members is None:
            return "<quillpost.Dispatch at 0x%x>" % (self._ptr or 0)
        if "count" in members.by_name and "item" in members.by_name:
            return "<quillpost.%s Count=%d>" % (members.name, len(self))
        default = next((e for e in members.by_name.values() if e["id"] == DISPID_VALUE), None)
        if default is None or INVOKE_PROPERTYGET not in default:
            return "<quillpost.%s>" % members.name
        return "<quillpost.%s %s=%r>" % (members.name, default["name"], self())


def _not_registered(name):
    """What to do about a class the registry does not know: register the
    component library that sits beside the runtime."""
    folder = os.path.dirname(_runtime_path)
    library = os.path.join(folder, "libqpmailer_server.so") if folder else "libqpmailer_server.so"
    registry = os.environ.get("QUILLPOST_REGISTRY") or "/etc/quillpost/registry.reg"
    return ("%s is not a registered class: register the component with 'qpregsvr %s' "
            "(the registry file is %s)" % (name, library, registry))


def CreateObject(name):
    """A new object of the class with this program identifier
    ("Quillpost.Message") or class identifier ("{...}")."""
    clsid = GUID()
    text = _wide(name)
    hr = (_rt.CLSIDFromString if name.startswith("{") else _rt.CLSIDFromProgID)(text, ctypes.byref(clsid))
    if hr < 0:
        raise Error(hr, _not_registered(name))
    ptr = c_void_p()
    hr = _rt.CoCreateInstance(ctypes.byref(clsid), None, CLSCTX_INPROC_SERVER, ctypes.byref(IID_IDispatch),
                              ctypes.byref(ptr))
    if hr == REGDB_E_CLASSNOTREG:
        raise Error(hr, _not_registered(name))
    if hr < 0:
        raise Error(hr, "%s cannot be created (status 0x%08X)" % (name, hr & 0xFFFFFFFF))
    return _proxy(ptr.value)


def FreeUnusedLibraries():
    """Unloads component libraries that have no live object left."""
    _rt.CoFreeUnusedLibraries()


# --- Python objects handed to a component ------------------------------------------------

_QI = ctypes.CFUNCTYPE(HRESULT, c_void_p, ctypes.POINTER(GUID), ctypes.POINTER(c_void_p))
_REF = ctypes.CFUNCTYPE(ctypes.c_uint32, c_void_p)
_COUNT = ctypes.CFUNCTYPE(HRESULT, c_void_p, ctypes.POINTER(ctypes.c_uint32))
_TYPEINFO = ctypes.CFUNCTYPE(HRESULT, c_void_p, ctypes.c_uint32, ctypes.c_uint32, ctypes.POINTER(c_void_p))
_IDS = ctypes.CFUNCTYPE(HRESULT, c_void_p, ctypes.POINTER(GUID), ctypes.POINTER(c_void_p), ctypes.c_uint32,
                        ctypes.c_uint32, ctypes.POINTER(ctypes.c_int32))
_INVOKE = ctypes.CFUNCTYPE(HRESULT, c_void_p, ctypes.c_int32, ctypes.POINTER(GUID), ctypes.c_uint32, ctypes.c_uint16,
                           ctypes.POINTER(DISPPARAMS), ctypes.POINTER(VARIANT), ctypes.POINTER(EXCEPINFO),
                           ctypes.POINTER(ctypes.c_uint32))


class _Header(ctypes.Structure):
    _fields_ = [("vtable", c_void_p)]


class _PythonObject:
    """IDispatch for a Python object, so that a component can call it by
    name: a property read returns the attribute (a method read with
    arguments is called with them, a mapping is indexed), a put sets it."""

    _live = {}  # by address of the interface: the wrapper, while referenced

    def __init__(self, target):
        self.target = target
        self.references = 1
        self.names = []
        self.header = _Header(ctypes.addressof(_PythonObject._table))

    @classmethod
    def wrap(cls, target):
        wrapper = cls(target)
        address = ctypes.addressof(wrapper.header)
        cls._live[address] = wrapper
        return address

    @classmethod
    def owner(cls, address):
        wrapper = cls._live.get(address)
        return wrapper.target if wrapper else None


def _qi(this, riid, out):
    if bytes(riid.contents) in (bytes(IID_IUnknown), bytes(IID_IDispatch)):
        _PythonObject._live[this].references += 1
        out[0] = this
        return S_OK
    out[0] = None
    return E_NOINTERFACE


def _addref_py(this):
    wrapper = _PythonObject._live[this]
    wrapper.references += 1
    return wrapper.references


def _release_py(this):
    wrapper = _PythonObject._live[this]
    wrapper.references -= 1
    if wrapper.references == 0:
        del _PythonObject._live[this]
    return wrapper.references


def _count_py(this, count):
    count[0] = 0
    return S_OK


def _typeinfo_py(this, index, lcid, out):
    out[0] = None
    return E_NOTIMPL


def _ids_py(this, riid, names, count, lcid, ids):
    wrapper = _PythonObject._live[this]
    name = _read_wide(names[0])
    for i in range(count):
        ids[i] = -1
    if not hasattr(wrapper.target, name):
        return DISP_E_UNKNOWNNAME
    if name not in wrapper.names:
        wrapper.names.append(name)
    ids[0] = wrapper.names.index(name) + 1
    return S_OK if count == 1 else DISP_E_UNKNOWNNAME


def _invoke_py(this, memid, riid, lcid, flags, params, result, exc, arg_error):
    wrapper = _PythonObject._live[this]
    try:
        p = params.contents
        args = [_from_variant(p.rgvarg[i]) for i in range(p.cArgs - 1, -1, -1)]
        target = wrapper.target
        if memid == DISPID_VALUE:
            value = target(*args) if callable(target) else target[args[0]] if args else str(target)
        elif memid < 1 or memid > len(wrapper.names):
            return DISP_E_MEMBERNOTFOUND
        elif flags & DISPATCH_PROPERTYPUT:
            setattr(target, wrapper.names[memid - 1], args[-1])
            value = None
        else:
            value = getattr(target, wrapper.names[memid - 1])
            if args:
                value = value(*args) if callable(value) else value[args[0]]
            elif flags == DISPATCH_METHOD or (callable(value) and hasattr(value, "__self__")):
                value = value()
        if result:
            keep = []
            _to_variant(value, result.contents, keep, True)
        return S_OK
    except Exception as error:  # the component sees any failure as its exception
        if exc:
            e = exc.contents
            e.wCode = 0
            e.bstrSource = _bstr("Python")
            e.bstrDescription = _bstr(getattr(error, "description", None) or str(error) or type(error).__name__)
            number = getattr(error, "number", None)
            e.scode = _hr(0x800A0000 + number) if isinstance(number, int) and 0 < number < 0x10000 else E_FAIL
        return DISP_E_EXCEPTION


_callbacks = (_QI(_qi), _REF(_addref_py), _REF(_release_py), _COUNT(_count_py), _TYPEINFO(_typeinfo_py),
              _IDS(_ids_py), _INVOKE(_invoke_py))
_PythonObject._table = (c_void_p * 7)(*[ctypes.cast(f, c_void_p) for f in _callbacks])
