// Reads the type library embedded in the DLL named on the command line, and
// the one the registry names for the same identifier, and prints what each
// holds: a line per type, and the members of the enumeration.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

namespace {

std::string Narrow(BSTR text) {
    std::string out;
    for (UINT i = 0; text && i < SysStringLen(text); ++i) out += static_cast<char>(text[i]);
    return out;
}

const char* KindName(TYPEKIND kind) {
    switch (kind) {
    case TKIND_ENUM: return "enum";
    case TKIND_INTERFACE: return "interface";
    case TKIND_DISPATCH: return "dispinterface";
    case TKIND_COCLASS: return "coclass";
    default: return "other";
    }
}

bool IsOfIDispatch(const std::string& name) {
    for (const char* inherited :
         {"QueryInterface", "AddRef", "Release", "GetTypeInfoCount", "GetTypeInfo", "GetIDsOfNames", "Invoke"})
        if (name == inherited) return true;
    return false;
}

void Describe(ITypeLib* library) {
    BSTR name = nullptr;
    library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
    TLIBATTR* attributes = nullptr;
    library->GetLibAttr(&attributes);
    std::printf("library %s %u.%u, locale 0x%lX, %u types\n", Narrow(name).c_str(), attributes->wMajorVerNum,
                attributes->wMinorVerNum, static_cast<unsigned long>(attributes->lcid), library->GetTypeInfoCount());
    library->ReleaseTLibAttr(attributes);
    SysFreeString(name);
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(library->GetTypeInfo(i, &info))) continue;
        TYPEATTR* type = nullptr;
        info->GetTypeAttr(&type);
        BSTR typeName = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr);
        // The interface's own members carry no flags (hidden, restricted, ...),
        // the enumerator included; those of IDispatch before them do.
        std::string flagged;
        for (UINT f = 0; f < type->cFuncs; ++f) {
            FUNCDESC* function = nullptr;
            if (FAILED(info->GetFuncDesc(f, &function))) continue;
            BSTR functionName = nullptr;
            UINT got = 0;
            info->GetNames(function->memid, &functionName, 1, &got);
            const std::string member = Narrow(functionName);
            SysFreeString(functionName);
            if (function->wFuncFlags && !IsOfIDispatch(member)) flagged += " " + member;
            info->ReleaseFuncDesc(function);
        }
        std::printf("  %s %s: %u functions, %u values%s%s%s\n", KindName(type->typekind), Narrow(typeName).c_str(),
                    type->cFuncs, type->cVars, (type->wTypeFlags & TYPEFLAG_FDUAL) ? ", dual" : "",
                    flagged.empty() ? "" : ", flags on", flagged.c_str());
        for (UINT v = 0; type->typekind == TKIND_ENUM && v < type->cVars; ++v) {
            VARDESC* var = nullptr;
            if (FAILED(info->GetVarDesc(v, &var))) continue;
            BSTR varName = nullptr;
            UINT got = 0;
            info->GetNames(var->memid, &varName, 1, &got);
            std::printf("    %s = %ld\n", Narrow(varName).c_str(), V_I4(var->lpvarValue));
            SysFreeString(varName);
            info->ReleaseVarDesc(var);
        }
        SysFreeString(typeName);
        info->ReleaseTypeAttr(type);
        info->Release();
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    CoInitialize(nullptr);
    ITypeLib* embedded = nullptr;
    HRESULT hr = LoadTypeLibEx(argv[1], REGKIND_NONE, &embedded);
    std::printf("embedded: 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;
    Describe(embedded);
    TLIBATTR* attributes = nullptr;
    embedded->GetLibAttr(&attributes);
    ITypeLib* registered = nullptr;
    hr = LoadRegTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, 0, &registered);
    std::printf("registered: 0x%08lX\n", static_cast<unsigned long>(hr));
    embedded->ReleaseTLibAttr(attributes);
    if (SUCCEEDED(hr)) {
        BSTR name = nullptr;
        registered->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
        std::printf("registered library: %s, %u types\n", Narrow(name).c_str(), registered->GetTypeInfoCount());
        SysFreeString(name);
        registered->Release();
    }
    embedded->Release();
    CoUninitialize();
    return 0;
}
