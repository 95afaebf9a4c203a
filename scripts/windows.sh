#!/bin/bash
# The Windows DLLs: installs the MinGW-w64 tool chain and Wine when missing,
# cross-builds qpmailer.dll and uninstQuillpost.dll into build/windows, and
# runs the Windows tests under Wine (tests/windows/run_wine_tests.sh, and
# qpmail.exe against a local token endpoint: tests/tools/e2e_oauth.py). One
# line per step; the tools' output goes to $QUILLPOST_LOG.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/steps.sh"
# Wine draws no windows here; a display left in the environment would let it try.
unset DISPLAY

"$root/scripts/install-deps.sh" g++-mingw-w64-x86-64 mingw-w64-tools wine64 libwine-dev wine \
  openssl python3-aiosmtpd python3-dkim tzdata nlohmann-json3-dev
cd "$root"
qp_step "configuring the Windows build" cmake --preset windows
qp_build_step "building the Windows DLLs" cmake --build --preset windows -j"$(nproc)"
qp_begin "Windows tests under Wine (tests/windows)"
echo "== tests/windows/run_wine_tests.sh" >>"$QUILLPOST_LOG"
if tests/windows/run_wine_tests.sh >>"$QUILLPOST_LOG" 2>&1; then qp_done "the transcript matches"; else qp_failed; fi
# qpmail.exe getting OAuth tokens through WinHTTP, in the build's own prefix.
qp_begin "OAuth tokens under Wine (tests/tools/e2e_oauth.py --wine)"
echo "== tests/tools/e2e_oauth.py --wine" >>"$QUILLPOST_LOG"
if timeout 300 /usr/bin/python3 tests/tools/e2e_oauth.py --wine build/windows/wine-prefix \
     build/windows/tools/qpmail.exe >>"$QUILLPOST_LOG" 2>&1; then qp_done; else qp_failed; fi
