// Loads the uninstall library named on the command line as the uninstaller
// does, finds each hook by name and by ordinal, calls it, and prints what it
// gave. The removal hook is also run inside each kind of apartment the
// calling thread may already be in, and the thread's apartment is printed
// after it: the hook must leave the object library as it found it.
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>

namespace {

using Hook = std::int32_t(WINAPI*)(std::uint32_t, std::uint32_t, std::uint32_t);

// The hook exported under `name`, when the export of that name and the one
// at `ordinal` are the same function; null (with a line saying why) otherwise.
Hook FindHook(HMODULE library, const char* name, WORD ordinal) {
    const FARPROC byName = GetProcAddress(library, name);
    const FARPROC byOrdinal = GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
    if (byName == nullptr) {
        std::printf("%s: not exported by name\n", name);
    } else if (byOrdinal == nullptr) {
        std::printf("%s: nothing exported at ordinal %u\n", name, ordinal);
    } else if (byName != byOrdinal) {
        std::printf("%s: ordinal %u is another function\n", name, ordinal);
    } else {
        return reinterpret_cast<Hook>(reinterpret_cast<void (*)()>(byName));
    }
    return nullptr;
}

const char* Apartment() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    const HRESULT result = CoGetApartmentType(&type, &qualifier);
    if (result == CO_E_NOTINITIALIZED) return "none";
    if (FAILED(result)) return "unknown";
    return type == APTTYPE_MTA ? "multithreaded" : "single-threaded";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: uninst_check PATH\\uninstQuillpost.dll\n");
        return 2;
    }
    const HMODULE library = LoadLibraryA(argv[1]);
    if (library == nullptr) {
        std::printf("load: error %lu\n", GetLastError());
        return 1;
    }
    const Hook initialize = FindHook(library, "UninstInitialize", 1);
    const Hook uninitialize = FindHook(library, "UninstUnInitialize", 2);
    if (initialize == nullptr || uninitialize == nullptr) {
        FreeLibrary(library);
        return 1;
    }

    std::printf("UninstInitialize: %d\n", static_cast<int>(initialize(0, 0, 0)));
    std::printf("UninstUnInitialize: %d\n", static_cast<int>(uninitialize(0, 0, 0)));
    std::printf("  apartment after the run: %s\n", Apartment());

    const struct {
        const char* kind;
        DWORD model;
    } apartments[] = {{"single-threaded", COINIT_APARTMENTTHREADED},
                      {"multithreaded", COINIT_MULTITHREADED}};
    for (const auto& apartment : apartments) {
        if (FAILED(CoInitializeEx(nullptr, apartment.model))) {
            std::printf("%s apartment: not entered\n", apartment.kind);
            continue;
        }
        std::printf("UninstUnInitialize in a %s apartment: %d\n", apartment.kind,
                    static_cast<int>(uninitialize(0, 0, 0)));
        std::printf("  apartment after the run: %s\n", Apartment());
        CoUninitialize();
        std::printf("  apartment once left: %s\n", Apartment());
    }

    std::printf("unload: %s\n", FreeLibrary(library) ? "done" : "failed");
    return 0;
}
