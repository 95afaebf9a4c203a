#!/usr/bin/python3
"""The cost of a property get and put from Python through the quillpost
client, in microseconds per call.

Usage: QUILLPOST_RUNTIME=build/server/libqpcom.so PYTHONPATH=python \\
       bench/bench_automation.py build/server/libqpmailer_server.so build/tools/qpregsvr/qpregsvr"""

import os
import subprocess
import sys
import tempfile
import timeit

server, regsvr = sys.argv[1], sys.argv[2]
registry = os.path.join(tempfile.mkdtemp(), "registry.reg")
with open(registry, "w") as f:
    f.write("REGEDIT4\n")
os.environ["QUILLPOST_REGISTRY"] = registry
subprocess.run([regsvr, server], check=True, stdout=subprocess.DEVNULL)

import quillpost  # noqa: E402

m = quillpost.CreateObject("Quillpost.Message")
m.Subject = "A subject"
for label, statement in [("get Subject", "m.Subject"), ("put Subject", "m.Subject = 'A subject'"),
                         ("get Port", "m.Port")]:
    runs = 20000
    seconds = min(timeit.repeat(statement, globals={"m": m}, number=runs, repeat=5))
    print("%-12s %6.2f us" % (label, seconds / runs * 1e6))
