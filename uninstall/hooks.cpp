#include "uninstall/hooks.hpp"

#include "uninstall/directory_service.hpp"
#include "uninstall/removal.hpp"

std::int32_t UNINST_CALL UninstInitialize(std::uint32_t, std::uint32_t, std::uint32_t) noexcept {
    return 0;
}

std::int32_t UNINST_CALL UninstUnInitialize(std::uint32_t, std::uint32_t, std::uint32_t) noexcept {
    // The run owns everything for the length of the call; nothing is kept
    // from one call to the next.
    quillpost::uninst::NoWebServerDirectory service;
    return quillpost::uninst::RunRemoval(service);
}
