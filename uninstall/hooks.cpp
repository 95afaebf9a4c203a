#include "uninstall/hooks.hpp"

#include "uninstall/machine_directory.hpp"
#include "uninstall/removal.hpp"

std::int32_t UNINST_CALL UninstInitialize(std::uint32_t, std::uint32_t, std::uint32_t) noexcept {
    return 0;
}

std::int32_t UNINST_CALL UninstUnInitialize(std::uint32_t, std::uint32_t, std::uint32_t) noexcept {
    // The run owns everything for the length of the call; nothing is kept
    // from one call to the next. The service outlives the run, so that it is
    // torn down only after the run has given back every reference.
    const auto service = quillpost::uninst::MachineDirectory();
    if (!service) return 0;
    return quillpost::uninst::RunRemoval(*service);
}
