#include "server/idl_text.hpp"

#include "server/guid_text.hpp"
#include "server/members.hpp"

#include <cstdio>

namespace quillpost::server {

namespace {

// "{...}" without its braces, as uuid() takes it.
std::string Uuid(const GUID& guid) {
    const std::string text = GuidText(guid);
    return text.substr(1, text.size() - 2);
}

std::string Hex(DISPID id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(id));
    return text;
}

std::string TypeName(VARTYPE type, const ClassInfo* ofClass) {
    switch (type) {
    case VT_BSTR: return "BSTR";
    case VT_I2: return "short";
    case VT_I4: return "long";
    case VT_R4: return "float";
    case VT_DATE: return "DATE";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_VARIANT: return "VARIANT";
    case VT_UNKNOWN: return "IUnknown*";
    case VT_DISPATCH: return ofClass ? std::string(ofClass->interfaceName) + "*" : "IDispatch*";
    default: return "VARIANT";
    }
}

std::string Method(const Member& m) {
    std::string attributes = "id(" + (m.id == DISPID_NEWENUM ? std::string("-4") : Hex(m.id)) + ")";
    if (m.kind == Kind::Get) attributes += ", propget";
    if (m.kind == Kind::Put) attributes += ", propput";
    std::string params;
    for (const Param& p : m.params) {
        if (!params.empty()) params += ", ";
        params += p.byRef ? "[in, out" : "[in";
        if (p.optional) params += ", optional";
        params += "] " + TypeName(p.type, nullptr) + (p.byRef ? "* " : " ") + p.name;
    }
    if (m.result != VT_EMPTY) {
        if (!params.empty()) params += ", ";
        // An enumerator is an IUnknown whatever its items are.
        const ClassInfo* ofClass = m.id == DISPID_NEWENUM ? nullptr : m.resultClass;
        params += "[out, retval] " + TypeName(m.result, ofClass) + "* result";
    }
    return "        [" + attributes + "] HRESULT " + m.name + "(" + params + ");\n";
}

}  // namespace

std::string LibraryIdl() {
    const LibraryInfo& library = Library();
    std::string idl = "// Written by the build from the binding's member table.\n"
                      "import \"oaidl.idl\";\n\n";
    char lcid[16];
    std::snprintf(lcid, sizeof lcid, "0x%X", static_cast<unsigned>(library.lcid));
    idl += "[uuid(" + Uuid(library.libid) + "), version(" + std::to_string(library.majorVersion) + "." +
           std::to_string(library.minorVersion) + "), lcid(" + lcid + ")]\n";
    idl += "library " + std::string(library.name) + "\n{\n    importlib(\"stdole2.tlb\");\n\n";
    for (const ClassInfo* info : library.classes) idl += "    interface " + std::string(info->interfaceName) + ";\n";
    // The enumeration is named as well as its typedef: an anonymous one would
    // carry the identifier twice.
    idl += "\n    typedef [uuid(" + Uuid(library.enumGuid) + ")] enum " + library.enumName + " {\n";
    for (std::size_t i = 0; i < library.enumValues.size(); ++i) {
        const EnumValue& v = library.enumValues[i];
        idl += "        " + std::string(v.name) + " = " + std::to_string(v.value) +
               (i + 1 < library.enumValues.size() ? ",\n" : "\n");
    }
    idl += "    } " + std::string(library.enumName) + ";\n";
    for (const ClassInfo* info : library.classes) {
        idl += "\n    [uuid(" + Uuid(info->iid) + "), dual, oleautomation, nonextensible, hidden]\n";
        idl += "    interface " + std::string(info->interfaceName) + " : IDispatch\n    {\n";
        for (const Member& m : info->members) idl += Method(m);
        idl += "    };\n\n";
        idl += "    [uuid(" + Uuid(info->clsid) + ")]\n";
        idl += "    coclass " + std::string(info->name) + "\n    {\n        [default] interface " +
               info->interfaceName + ";\n    };\n";
    }
    idl += "};\n";
    return idl;
}

}  // namespace quillpost::server
