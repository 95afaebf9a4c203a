#include "process.hpp"

#include <windows.h>
#include <aclapi.h>
#include <io.h>
#include <stdio.h>

namespace quillpost::qpmail {

// Windows Sockets has no signal for a write to a closed connection: the
// send fails with 10054 and qpmail reports it.
void ReportBrokenConnectionsAsErrors() {}

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

namespace {

// The accounts that stand for every user of the machine.
bool IsEveryone(PSID sid) {
    for (const WELL_KNOWN_SID_TYPE type : {WinWorldSid, WinAuthenticatedUserSid, WinBuiltinUsersSid})
        if (::IsWellKnownSid(sid, type)) return true;
    return false;
}

}  // namespace

// A file is open to others when its access list lets everyone read it, or
// when it has no access list at all. A denial of the same right is not
// weighed: this is for a warning only.
bool OthersMayRead(const std::string& path) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool open = acl == nullptr;
    for (DWORD i = 0; acl != nullptr && i < acl->AceCount && !open; ++i) {
        void* ace = nullptr;
        if (!::GetAce(acl, i, &ace) || static_cast<const ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        const ACCESS_MASK read = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
        open = (allowed->Mask & read) != 0 && IsEveryone(&allowed->SidStart);
    }
    ::LocalFree(descriptor);
    return open;
}

}  // namespace quillpost::qpmail
