// The two hooks that the product's uninstaller calls. They are the library's
// only exports, by name and with C linkage.
#pragma once

#include <cstdint>

// Exported from the shared library; everything else in it stays hidden
// (a DLL exports nothing unless told to).
#if defined(_WIN32)
#define UNINST_EXPORT __declspec(dllexport)
#else
#define UNINST_EXPORT __attribute__((visibility("default")))
#endif

// The uninstaller's hook convention has the called function remove its
// arguments from the stack; only 32-bit x86 tells the two conventions apart.
#if defined(_WIN32) && !defined(_WIN64)
#define UNINST_CALL __stdcall
#elif defined(__i386__)
#define UNINST_CALL __attribute__((stdcall))
#else
#define UNINST_CALL
#endif

extern "C" {

// Does nothing. The arguments mean nothing to the library; the result is 0.
UNINST_EXPORT std::int32_t UNINST_CALL UninstInitialize(std::uint32_t, std::uint32_t,
                                                         std::uint32_t) noexcept;

// Removes the web virtual directory "Quillpost" from the root of every web
// site of the local web server. The arguments are not used, and the result is
// 0 in every case: no failure is ever reported to the uninstaller.
UNINST_EXPORT std::int32_t UNINST_CALL UninstUnInitialize(std::uint32_t, std::uint32_t,
                                                           std::uint32_t) noexcept;
}
