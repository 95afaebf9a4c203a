#!/usr/bin/python3
"""The Python client against the component, registered into a registry file
of its own: every member by name and by identifier, the registration round
trip, statuses, default members, enumeration, missing parameters,
conversions, the client's Python shapes (sequences, keywords, identity,
refused values), the type library's constants, unloading and one full send
to aiosmtpd.

Run by CTest with QP_SERVER (the component), QP_REGSVR (qpregsvr),
QUILLPOST_RUNTIME (the runtime) and PYTHONPATH (the package) set."""

import atexit
import ctypes
import datetime
import decimal
import email
import email.policy
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest
import unittest.mock

SERVER = os.environ["QP_SERVER"]
REGSVR = os.environ["QP_REGSVR"]
FOLDER = tempfile.mkdtemp(prefix="qp-python-")
atexit.register(shutil.rmtree, FOLDER, True)
REGISTRY = os.path.join(FOLDER, "registry.reg")
os.environ["QUILLPOST_REGISTRY"] = REGISTRY
with open(REGISTRY, "w") as f:
    f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost]\n\"RequireLocalSender\"=\"True\"\n\n")
subprocess.run([REGSVR, SERVER], check=True, stdout=subprocess.DEVNULL)

import quillpost  # noqa: E402  (after the registry is in place)
from quillpost import Error, Missing  # noqa: E402

S = lambda x: x - (1 << 32) if x >= 1 << 31 else x  # noqa: E731
DISP_E_MEMBERNOTFOUND, DISP_E_TYPEMISMATCH, DISP_E_UNKNOWNNAME = S(0x80020003), S(0x80020005), S(0x80020006)
DISP_E_OVERFLOW, DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL = S(0x8002000A), S(0x8002000E), S(0x8002000F)
CO_E_CLASSSTRING, REGDB_E_CLASSNOTREG = S(0x800401F3), S(0x80040154)


def fresh(code):
    """Runs code in a new Python process; its output."""
    return subprocess.run([sys.executable, "-c", "import quillpost\n" + code], capture_output=True, text=True,
                          timeout=60)


class Members(unittest.TestCase):
    def test_every_member_by_name_and_by_identifier(self):
        attachment = os.path.join(FOLDER, "a.txt")
        with open(attachment, "w") as f:
            f.write("data\n")
        # class, member, identifier, value put (or arguments of a method), value read back
        rows = [
            ("Message", "Subject", 0, "S", "S"), ("Message", "Server", 0x6803000F, "mx", "mx"),
            ("Message", "Port", 0x6803000E, 2525, 2525), ("Message", "Priority", 0x6803000D, 5, 5),
            ("Message", "TextBody", 0x6803000C, "t", "t"), ("Message", "HtmlBody", 0x6803000B, "<p>", "<p>"),
            ("Message", "FromName", 0x6803000A, "F", "F"), ("Message", "FromAddress", 0x68030009, "f@x", "f@x"),
            ("Message", "Application", 0x68030008, "App", "App"), ("Message", "TimeOut", 0x68030007, 2.5, 2.5),
            ("Message", "TraceFile", 0x68030006, "/tmp/t", "/tmp/t"),
            ("Message", "Organization", 0x68030005, "Org", "Org"),
            ("Message", "ConfirmReading", 0x68030010, True, True),
            ("Message", "DateTime", 0x68030011, datetime.datetime(2024, 2, 29, 13, 30), datetime.datetime(2024, 2, 29, 13, 30)),
            ("Recipient", "Name", 0x68030000, "N", "N"), ("Recipient", "Address", 0, "a@x", "a@x"),
            ("Header", "Name", 0, "X-A", "X-A"), ("Header", "Value", 0x68030000, "v", "v"),
            ("Attachment", "FileName", 0, "f.bin", "f.bin"),
        ]
        for cls, name, ident, value, expected in rows:
            with self.subTest(cls=cls, name=name):
                o = quillpost.CreateObject("Quillpost." + cls)
                setattr(o, name, value)
                self.assertEqual(getattr(o, name), expected)
                self.assertEqual(getattr(o, name.upper()), expected)
                o2 = quillpost.CreateObject("Quillpost." + cls)
                o2._invoke(ident, quillpost.DISPATCH_PROPERTYPUT, (value,))
                self.assertEqual(o2._invoke(ident, quillpost.DISPATCH_PROPERTYGET, ()), expected)
        m = quillpost.CreateObject("Quillpost.Message")
        collections = [("Attachments", 0x68030012), ("Recipients", 0x68030004), ("CCs", 0x68030003),
                       ("BCCs", 0x68030002), ("ReplyTos", 0x68030001), ("ExtraHeaders", 0x68030000)]
        for name, ident in collections:
            with self.subTest(collection=name):
                self.assertEqual(getattr(m, name).Count, 0)
                self.assertEqual(m._invoke(ident, quillpost.DISPATCH_PROPERTYGET, ()).Count, 0)
        # The methods of the collections, by name and by identifier.
        for prog, add_args, remove_id, clear_id in [("Recipients", ("a@x", "A"), 0x60030002, 0x60030003),
                                                    ("Headers", ("X-A", "1"), 0x60030003, 0x60030004),
                                                    ("Attachments", (attachment,), 0x60030002, 0x60030003)]:
            with self.subTest(collection=prog):
                c = quillpost.CreateObject("Quillpost." + prog)
                c.Add(*add_args)
                c._invoke(0x60030001, quillpost.DISPATCH_METHOD, add_args[:1] + ("2",) * (len(add_args) - 1)
                          if prog != "Headers" else ("X-B", "2"))
                self.assertEqual((c.Count, c._invoke(0x68030000, quillpost.DISPATCH_PROPERTYGET, ())), (2, 2))
                self.assertEqual(c.Item(1)(), c._invoke(0, quillpost.DISPATCH_PROPERTYGET, (1,))())
                c.Remove(1)
                self.assertEqual(c.Count, 1)
                c._invoke(remove_id, quillpost.DISPATCH_METHOD, (1,))
                c.Add(*add_args)
                c.Clear()
                self.assertEqual(c.Count, 0)
                c.Add(*add_args)
                c._invoke(clear_id, quillpost.DISPATCH_METHOD, ())
                self.assertEqual(c.Count, 0)
        h = quillpost.CreateObject("Quillpost.Header")
        self.assertIs(h.Parse("Name: value"), True)
        self.assertEqual((h.Name, h.Value), ("Name", "value"))
        self.assertIs(h._invoke(0x60030001, quillpost.DISPATCH_METHOD, ("no separator",)), False)

    def test_conversions_and_overflow(self):
        m = quillpost.CreateObject("Quillpost.Message")
        for name, value, expected in [("Port", "587", 587), ("Port", 25.5, 26), ("Port", 26.5, 26),
                                      ("Priority", True, -1 if False else None), ("Subject", 12, "12"),
                                      ("Subject", 1.5, "1.5"), ("Subject", True, "True"), ("TimeOut", "7", 7.0)]:
            with self.subTest(name=name, value=value):
                if expected is None:
                    with self.assertRaises(Error) as caught:  # -1 is no QP_PRIORITY value
                        setattr(m, name, value)
                    self.assertEqual(caught.exception.number, 9990)
                    continue
                setattr(m, name, value)
                self.assertEqual(getattr(m, name), expected)
        for name, value, status in [("Port", 2 ** 40, DISP_E_OVERFLOW), ("Priority", 40000, DISP_E_OVERFLOW),
                                    ("TimeOut", 1e300, DISP_E_OVERFLOW), ("Port", "many", DISP_E_TYPEMISMATCH),
                                    ("Subject", None, None)]:
            with self.subTest(name=name, value=value):
                if status is None:
                    setattr(m, name, value)  # empty converts to ""
                    self.assertEqual(getattr(m, name), "")
                    continue
                with self.assertRaises(Error) as caught:
                    setattr(m, name, value)
                self.assertEqual(caught.exception.hresult, status)
                self.assertEqual(caught.exception.argument, 0)


class Statuses(unittest.TestCase):
    def test_error_statuses(self):
        m = quillpost.CreateObject("Quillpost.Message")
        cases = [
            (lambda: m.NoSuchThing, DISP_E_UNKNOWNNAME),
            (lambda: m.Subject, None),
            (lambda: setattr(m, "Recipients", 1), DISP_E_MEMBERNOTFOUND),
            (lambda: m._invoke(0, quillpost.DISPATCH_PROPERTYGET, (1, 2)), DISP_E_BADPARAMCOUNT),
            (lambda: m.Recipients.Add(), DISP_E_PARAMNOTOPTIONAL),
            (lambda: m.ExtraHeaders.Add("X-Only"), DISP_E_PARAMNOTOPTIONAL),
            (lambda: m.OnStartPage(5), DISP_E_TYPEMISMATCH),
        ]
        for call, status in cases:
            if status is None:
                call()
                continue
            with self.assertRaises(Error) as caught:
                call()
            self.assertEqual(caught.exception.hresult, status)
        self.assertRaises(AttributeError, lambda: m.Nothing)

    def test_component_errors_carry_number_description_source_and_status(self):
        m = quillpost.CreateObject("Quillpost.Message")
        cases = [
            (lambda: setattr(m, "Priority", 6), 9990, "Invalid Priority setting."),
            (lambda: m.Recipients.Add(""), 9995, "Recipient address can not be blank"),
            (lambda: m.ExtraHeaders.Add("", "v"), 9997, "Message header name can not be blank"),
            (lambda: m.Attachments.Add(""), 9994, "Attachment file name can not be blank"),
            (lambda: m.CheckSender(""), 9991, "FromAddress can not be blank"),
            (lambda: m.Recipients(3), 9, "Subscript out of range"),
        ]
        for call, number, description in cases:
            with self.subTest(number=number):
                with self.assertRaises(Error) as caught:
                    call()
                e = caught.exception
                self.assertEqual((e.number, e.description, e.source), (number, description, "Quillpost"))
                self.assertEqual(e.hresult, S(0x800A0000 + number))


class DefaultsAndEnumeration(unittest.TestCase):
    def test_default_members_missing_parameters_and_iteration(self):
        m = quillpost.CreateObject("Quillpost.Message")
        m.Subject = "Hello"
        self.assertEqual(m(), "Hello")
        m.Recipients.Add("ann@example.org")          # vName left out
        m.Recipients.Add("bob@example.org", Missing)  # given as the missing value
        m.Recipients.Add("cy@example.org", "Cy")
        self.assertEqual(m.Recipients(1)(), "ann@example.org")
        self.assertEqual([r.Name for r in m.Recipients], ["", "", "Cy"])
        self.assertEqual([r() for r in m.Recipients], ["ann@example.org", "bob@example.org", "cy@example.org"])
        with self.assertRaises(Error) as caught:
            m.Recipients.Add(Missing)
        self.assertEqual(caught.exception.number, 9995)
        m.ExtraHeaders.Add("X-One", "1")
        m.ExtraHeaders.Add("X-Two", "2")
        self.assertEqual([(h(), h.Value) for h in m.ExtraHeaders], [("X-One", "1"), ("X-Two", "2")])
        self.assertEqual(m.ExtraHeaders("x-two").Value, "2")
        a = quillpost.CreateObject("Quillpost.Attachment")
        a.FileName = "x.pdf"
        self.assertEqual(a(), "x.pdf")
        self.assertEqual(list(quillpost.CreateObject("Quillpost.Attachments")), [])


class PythonShapes(unittest.TestCase):
    def test_values_that_are_no_automation_value_are_refused(self):
        m = quillpost.CreateObject("Quillpost.Message")
        for call in [lambda: m.Recipients.Add(["a@x", "b@x"]), lambda: setattr(m, "Subject", b"bytes"),
                     lambda: m.ExtraHeaders.Add("X-A", object()), lambda: setattr(m, "TimeOut", 1j),
                     lambda: m.Recipients.Add("a@x", vName={"n": 1}), lambda: m.CheckSender(bytearray(b"x"))]:
            self.assertRaises(TypeError, call)
        self.assertEqual((m.Recipients.Count, m.Subject, m.ExtraHeaders.Count), (0, "[no subject]", 0))

    def test_dates_and_numbers(self):
        m = quillpost.CreateObject("Quillpost.Message")
        local = datetime.datetime(2024, 3, 1, 10, 0)
        # value put, value read back: an aware time arrives as the same instant in local time
        for value, expected in [(datetime.date(2024, 3, 1), datetime.datetime(2024, 3, 1)),
                                (local.astimezone(datetime.timezone.utc), local),
                                (local.astimezone(datetime.timezone(datetime.timedelta(hours=-7))), local)]:
            with self.subTest(value=value):
                m.DateTime = value
                self.assertAlmostEqual(m.DateTime, expected, delta=datetime.timedelta(milliseconds=1))
        m.TimeOut = decimal.Decimal("2.5")
        m.Priority = quillpost.QP_PRIORITY_LOWEST
        self.assertEqual((m.TimeOut, m.Priority), (2.5, quillpost.QP_PRIORITY.QP_PRIORITY_LOWEST))

    def test_collections_as_sequences_with_keywords_and_identity(self):
        m = quillpost.CreateObject("Quillpost.Message")
        r = m.Recipients
        self.assertIs(m.Recipients, r)
        self.assertFalse(r)
        r.Add("a@x", "A")
        r.Add(vName="B", vAddress="b@x")   # by parameter name, in any order
        r.Add("c@x", VNAME="C")            # and in any letter case
        self.assertEqual((len(r), bool(r)), (3, True))
        self.assertEqual([r[0].Address, r[1].Name, r[-1].Address], ["a@x", "B", "c@x"])
        self.assertEqual([x.Name for x in r[1:]], ["B", "C"])
        self.assertIs(r[0], r.Item(1))
        self.assertIs(r.Item(1), m.Recipients(1))
        self.assertIs(next(iter(r)), r[0])
        self.assertEqual(r[0], r.Item(1))
        self.assertIn("b@x", r)
        self.assertIn(r[2], r)
        self.assertNotIn("z@x", r)
        m.CCs.Add("a@x")
        self.assertNotIn(m.CCs[0], r)  # the same address, but an item of another list
        for bad in [lambda: r[3], lambda: r[-4]]:
            self.assertRaises(IndexError, bad)
        h = m.ExtraHeaders
        h.Add(Name="X-A", Value="1")
        self.assertEqual(h["x-a"].Value, "1")
        self.assertRaises(KeyError, lambda: h["X-None"])
        for bad in [lambda: len(m), lambda: m[0], lambda: r.Add("d@x", vNope=1), lambda: r.Add("d@x", vAddress="e@x")]:
            self.assertRaises(TypeError, bad)
        self.assertEqual(len(r), 3)

    def test_dispatch_refusals_as_a_script_sees_them(self):
        m = quillpost.CreateObject("Quillpost.Message")
        # call, number, also an AttributeError
        rows = [(lambda: m.NoSuchMember, 438, True), (lambda: setattr(m, "Recipients", 1), 438, True),
                (lambda: setattr(m, "NoSuchMember", 1), 438, True), (lambda: setattr(m, "Port", "many"), 13, False),
                (lambda: m.Recipients.Add(), 449, False), (lambda: m._invoke(0, quillpost.DISPATCH_PROPERTYGET, (1, 2)), 450, False),
                (lambda: setattr(m, "Port", 2 ** 40), 6, False),
                (lambda: quillpost.CreateObject("Quillpost.Nothing"), 429, False)]
        for call, number, attribute in rows:
            with self.subTest(number=number):
                with self.assertRaises(Error) as caught:
                    call()
                e = caught.exception
                self.assertEqual((e.number, e.source), (number, "Quillpost"))
                self.assertTrue(e.description)
                self.assertEqual(isinstance(e, AttributeError), attribute)

    def test_dir_and_repr(self):
        m = quillpost.CreateObject("Quillpost.Message")
        self.assertLessEqual({"send", "Subject", "Recipients", "OnStartPage"}, set(dir(m)))
        m.Subject = "Hi"
        m.Recipients.Add("a@x")
        self.assertEqual(repr(m), "<quillpost.Message Subject='Hi'>")
        self.assertEqual(repr(m.Recipients), "<quillpost.Recipients Count=1>")
        self.assertEqual(repr(m.Recipients[0]), "<quillpost.Recipient Address='a@x'>")

    def test_priority_constants_are_the_type_librarys(self):
        m = quillpost.CreateObject("Quillpost.Message")
        call, V = quillpost._vcall, ctypes.c_void_p
        info, lib = V(), V()
        self.assertEqual(call(m._ptr, 4, ctypes.c_int32, [ctypes.c_uint32, ctypes.c_uint32, ctypes.POINTER(V)],
                              0, 0x409, ctypes.byref(info)), 0)
        self.assertEqual(call(info.value, 18, ctypes.c_int32, [ctypes.POINTER(V), V], ctypes.byref(lib), None), 0)
        found, memid, count = V(), ctypes.c_int32(), ctypes.c_uint16(1)
        name = quillpost._wide("QP_PRIORITY")
        self.assertEqual(call(lib.value, 11, ctypes.c_int32, [V, ctypes.c_uint32, ctypes.POINTER(V),
                              ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(ctypes.c_uint16)],
                              ctypes.addressof(name), 0, ctypes.byref(found), ctypes.byref(memid), ctypes.byref(count)), 0)
        self.assertEqual(count.value, 1)

        class VARDESC(ctypes.Structure):
            _fields_ = [("memid", ctypes.c_int32), ("schema", V), ("value", ctypes.POINTER(quillpost.VARIANT)),
                        ("elem", quillpost.ELEMDESC), ("flags", ctypes.c_uint16), ("kind", ctypes.c_int32)]
        values = {}
        for i in range(6):
            desc, text, got = ctypes.POINTER(VARDESC)(), V(), ctypes.c_uint32()
            self.assertEqual(call(found.value, 6, ctypes.c_int32, [ctypes.c_uint32, ctypes.POINTER(ctypes.POINTER(VARDESC))],
                                  i, ctypes.byref(desc)), 0)
            call(found.value, 7, ctypes.c_int32, [ctypes.c_int32, ctypes.POINTER(V), ctypes.c_uint32,
                 ctypes.POINTER(ctypes.c_uint32)], desc.contents.memid, ctypes.byref(text), 1, ctypes.byref(got))
            values[quillpost._text(text.value)] = desc.contents.value.contents.v.lVal
            quillpost._rt.SysFreeString(text.value)
        for p in (found, lib, info):
            quillpost._release(p.value)
        self.assertEqual(values, {e.name: e.value for e in quillpost.QP_PRIORITY})
        self.assertEqual(quillpost.QP_PRIORITY_HIGH, 2)


class Registration(unittest.TestCase):
    def test_round_trip_in_fresh_processes(self):
        created = fresh("print(quillpost.CreateObject('Quillpost.Recipients').Count)")
        self.assertEqual(created.stdout.strip(), "0", created.stderr)
        subprocess.run([REGSVR, "-u", SERVER], check=True, stdout=subprocess.DEVNULL)
        try:
            for name, status in [("Quillpost.Message", CO_E_CLASSSTRING),
                                 ("{7FCFC88A-B306-4DA1-BB3F-F3C3C5105EBC}", REGDB_E_CLASSNOTREG)]:
                gone = fresh("try:\n quillpost.CreateObject(%r)\nexcept quillpost.Error as e:\n print(e.hresult)\n print(e)"
                             % name)
                hresult, text = gone.stdout.strip().split("\n")
                self.assertEqual(hresult, str(status), gone.stderr)
                # What to run, and the status as the platform writes it.
                self.assertEqual(text, "%s is not a registered class: register the component with 'qpregsvr %s' "
                                 "(the registry file is %s) (0x%08X)" % (name, os.path.join(
                                     os.path.dirname(os.environ["QUILLPOST_RUNTIME"]), "libqpmailer_server.so"),
                                     REGISTRY, status & 0xFFFFFFFF))
            with open(REGISTRY) as f:
                self.assertIn('"RequireLocalSender"="True"', f.read())
        finally:
            subprocess.run([REGSVR, SERVER], check=True, stdout=subprocess.DEVNULL)
        self.assertEqual(fresh("print(quillpost.CreateObject('{7FCFC88A-B306-4DA1-BB3F-F3C3C5105EBC}')())").stdout,
                         "[no subject]\n")

    def test_qpregsvr_makes_the_registry_folder_and_names_the_variable(self):
        blocker = os.path.join(FOLDER, "a-file")
        with open(blocker, "w") as f:
            f.write("x")
        # registry file, exit status, what stderr says
        rows = [(os.path.join(FOLDER, "new", "deeper", "registry.reg"), 0, ""),
                (os.path.join(blocker, "registry.reg"), 1,
                 "qpregsvr: %s is not a folder (the registry file %s is named by QUILLPOST_REGISTRY)\n"
                 % (blocker, os.path.join(blocker, "registry.reg")))]
        for registry, status, stderr in rows:
            with self.subTest(registry=registry):
                run = subprocess.run([REGSVR, SERVER], capture_output=True, text=True,
                                     env=dict(os.environ, QUILLPOST_REGISTRY=registry))
                self.assertEqual((run.returncode, run.stderr), (status, stderr))
                self.assertEqual(os.path.exists(registry), status == 0)

    def test_qpregsvr_reports_failures(self):
        for args in [[REGSVR, "/nonexistent/lib.so"], [REGSVR, os.environ["QUILLPOST_RUNTIME"]], [REGSVR]]:
            run = subprocess.run(args, capture_output=True, text=True)
            self.assertNotEqual(run.returncode, 0)
            self.assertTrue(run.stderr.startswith(("qpregsvr: ", "usage: ")), run.stderr)

    def test_library_unloads_only_after_the_last_release(self):
        code = ("import ctypes, os\n"
                "lib = ctypes.CDLL(os.environ['QP_SERVER'])\n"
                "m = quillpost.CreateObject('Quillpost.Message')\n"
                "r = m.Recipients\n"
                "del m\n"
                "print(lib.DllCanUnloadNow())\n"
                "del r\n"
                "print(lib.DllCanUnloadNow())\n")
        run = fresh(code)
        self.assertEqual(run.stdout.split(), ["1", "0"], run.stderr)


class PageAndSend(unittest.TestCase):
    def test_python_page_context_reaches_the_sender_check(self):
        class PageRequest:
            def ServerVariables(self, name):
                return {"SERVER_NAME": "www.example.org"}.get(name, "")

        class ScriptingContext:
            Request = PageRequest()

        m = quillpost.CreateObject("Quillpost.Message")
        m.CheckSender("web@elsewhere.net")  # no page yet: the rule does not apply
        self.assertIsNone(m.OnStartPage(ScriptingContext()))
        m.CheckSender("web@example.org")
        with self.assertRaises(Error) as caught:
            m.CheckSender("web@elsewhere.net")
        self.assertEqual(caught.exception.number, 9992)
        self.assertTrue(caught.exception.description.endswith("example.org"))

    def test_a_default_value_that_is_an_object_again_is_a_type_mismatch(self):
        def itself(*args):
            return itself

        class Request:
            def ServerVariables(self, name):
                return itself

        # A callable returning itself, and a mock whose every call gives
        # another mock: each read once, then refused.
        for request in (Request(), unittest.mock.Mock()):
            m = quillpost.CreateObject("Quillpost.Message")
            m.OnStartPage(type("ScriptingContext", (), {"Request": request})())
            with self.assertRaises(Error) as caught:
                m.CheckSender("web@example.org")
            self.assertEqual(caught.exception.number, 13, request)

    def test_full_send_to_a_local_server(self):
        from aiosmtpd.controller import Controller

        class Collector:
            def __init__(self):
                self.envelopes = []

            async def handle_DATA(self, server, session, envelope):
                self.envelopes.append(envelope)
                return "250 OK"

        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        collector = Collector()
        controller = Controller(collector, hostname="127.0.0.1", port=port)
        controller.start()
        try:
            m = quillpost.CreateObject("Quillpost.Message")
            # Port holds 16 signed bits: ports above 32767 go in as negative numbers.
            m.Server, m.Port, m.TimeOut = "127.0.0.1", port - 65536 if port > 32767 else port, 10
            m.FromAddress, m.FromName = "web@example.org", "Web"
            m.Recipients.Add("ann@example.org", "Ann")
            m.BCCs.Add("audit@example.org")
            m.Subject = "Grüße"
            m.TextBody = "Hello, Ann.\r\n"
            m.send()
        finally:
            controller.stop()
        self.assertEqual(len(collector.envelopes), 1)
        envelope = collector.envelopes[0]
        self.assertEqual(envelope.mail_from, "web@example.org")
        self.assertEqual(sorted(envelope.rcpt_tos), ["ann@example.org", "audit@example.org"])
        message = email.message_from_bytes(envelope.content, policy=email.policy.default)
        self.assertEqual(message["Subject"], "Grüße")
        self.assertEqual(message.get_content().strip(), "Hello, Ann.")


if __name__ == "__main__":
    unittest.main()
