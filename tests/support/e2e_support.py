"""What the end-to-end scripts share: a free port on loopback, and running
a table of cases with one line a case."""

import socket
import time
import traceback


def free_port(family=socket.AF_INET, host="127.0.0.1"):
    with socket.socket(family) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def run_cases(cases, run_one):
    """Runs run_one(case) for each case (a function named case_...), printing
    "ok" or "FAIL" with its traceback, then "N passed, M failed". Returns the
    exit status: 0 when every case passed."""
    passed = failed = 0
    for case in cases:
        started = time.monotonic()
        try:
            run_one(case)
        except Exception:
            failed += 1
            print(f"FAIL {case.__name__[5:]}")
            print("     " + traceback.format_exc().strip().replace("\n", "\n     "))
        else:
            passed += 1
            print(f"ok   {case.__name__[5:]} ({time.monotonic() - started:.2f} s)")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1
