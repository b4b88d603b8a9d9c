#!/usr/bin/env python3
"""Runs every kind of crash_suite.exe under Wine and checks how it ended and the bug report file
it left: run_crash_suite.py EXE win32|win64 WINE_RUN_SCRIPT"""
import os
import subprocess
import sys
import shutil
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "crashreport", "delivery"))

# kind: exit code, exception class, part of the message, functions the crashed thread's stack
# must name (None: no report may be written).
KINDS = {
    "read": (1, "XunException", "Read of address", ["ReadFault", "wmain"]),
    "write": (1, "XunException", "Write of address", ["WriteFault", "wmain"]),
    # The same fault, the report also sent by itself to an SMTP server (aiosmtpd) before the end.
    "autosend": (1, "XunException", "Write of address", ["WriteFault", "wmain"]),
    "execute": (1, "XunException", "of address", ["wmain"]),
    "divide": (1, "XunException", "Division by zero", ["DivideFault", "wmain"]),
    "illegal": (1, "XunException", "External exception C000001D", ["IllegalInstruction"]),
    "privileged": (1, "XunException", "Privileged instruction", ["PrivilegedInstruction"]),
    "breakpoint": (1, "XunException", "External exception 80000003", ["Breakpoint"]),
    "overflow": (1, "XunException", "Stack overflow", ["Recurse"]),
    "own": (1, "EConvertError", "is not a valid integer value", ["ThrowOwn", "wmain"]),
    "std": (1, "std::runtime_error", "broken invariant", ["ThrowStd", "wmain"]),
    "foreign": (1, "int", "", ["ThrowForeign"]),
    "abort": (1, "Exception", "Abnormal program termination", ["wmain"]),
    "pure": (1, "EAbstractError", "Abstract Error", ["CallPure"]),
    "terminate": (1, "Exception", "Abnormal program termination", ["wmain"]),
    "raise": (1, "XunException", "External exception E0001234", ["CustomRaise", "wmain"]),
    "window": (1, "XunException", "Write of address", ["WriteFault", "FaultingWindowProc"]),
    "timer": (1, "XunException", "Division by zero", ["DivideFault", "TimerProc"]),
    # A fault or an escaping C++ exception in a thread the program started ends only that thread.
    "thread": (0, "XunException", "Write of address", ["WriteFault"]),
    "thread-throw": (0, "std::runtime_error", "broken invariant", ["ThrowStd", "ThrowingThread"]),
    "intoverflow": (1, "XunException", "Integer overflow", ["IntegerOverflow", "wmain"]),
    "dialog": (1, "XunException", "Read of address", ["ReadFault", "FaultingDialogTimer", "InDialog"]),
    "nested": (1, "XunException", "Write of address", ["WriteFault", "FaultWhileHandling"]),
    "badalloc": (1, "std::bad_alloc", "", ["OutOfMemory", "wmain"]),
    "pool": (1, "XunException", "Read of address", ["ReadFault", "PoolWork"]),
    "handled": (0, "EConvertError", "is not a valid integer value", ["HandledByFramework", "wmain"]),
    "silent": (1, None, None, None),
    "naming": (0, None, None, None),
    # The main thread sleeps 3.2 s without answering: reported after 1 s and again 1.5 s later.
    "freeze": (0, "", "The application seems to be frozen", ["wmain"]),
    # A report on request through xunTraceProcess in a second, idle instance: printed, not saved.
    "remote": (0, None, None, None),
}

# What the program must print.
OUTPUT = {
    "handled": ["continued"],
    "thread": ["thread ended"],
    "thread-throw": ["thread ended"],
    "remote": ["date/time", "main thread ($", "CrashSuite", "wmain", "callstack crc"],
}


def header(report, name):
    for line in report.split("\r\n"):
        if line.startswith(name + " ") or line.startswith(name + ":"):
            return line.split(": ", 1)[1] if ": " in line else ""
    return None


def sent_report_problems(folder):
    """The one mail that arrived carries the bug report, as a file attachment or in its body."""
    received = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    if len(received) != 1:
        return [f"{len(received)} mails arrived, expected 1"]
    texts = []
    for name in os.listdir(os.path.join(folder, received[0])):
        if name == "body" or name.startswith("att"):
            texts.append(open(os.path.join(folder, received[0], name), "rb").read().decode("latin-1"))
    if not any("exception class    : XunException" in t and "callstack crc" in t for t in texts):
        return ["the mail does not carry the report"]
    return []


def main():
    exe, arch, wine_run = sys.argv[1:4]
    report_path = os.path.join(os.path.dirname(exe), "crash-report.txt")
    failures = []
    for kind, (code, cls, message, functions) in KINDS.items():
        if os.path.exists(report_path):
            os.remove(report_path)
        args, smtp, mails = [kind], None, None
        if kind == "autosend":
            import servers
            mails = tempfile.mkdtemp()
            smtp, port = servers.start_smtp(mails, False)
            args.append(str(port))
        try:
            run = subprocess.run(["bash", wine_run, arch, exe] + args, stdin=subprocess.DEVNULL, capture_output=True,
                                 timeout=120)
        except subprocess.TimeoutExpired:
            failures.append(f"{kind}: did not end within 120 s")
            continue
        finally:
            if smtp:
                smtp.stop()
        problems = []
        if mails:
            problems += sent_report_problems(os.path.join(mails, "smtp"))
            shutil.rmtree(mails, ignore_errors=True)
        if run.returncode != code:
            problems.append(f"exit code {run.returncode}, expected {code}")
        output = (run.stdout + run.stderr).decode("latin-1")
        for text in OUTPUT.get(kind, []):
            if text not in output:
                problems.append(f"the output lacks {text!r}")
        if "nhandled exception" in output or "wine: " in output:
            problems.append("reached Wine's own crash handling: " + output[-300:])
        report = open(report_path, encoding="latin-1", newline="").read() if os.path.exists(report_path) else None
        if cls is None:
            if report is not None:
                problems.append("a report was written")
        elif report is None:
            problems.append("no bug report file")
        else:
            reports = sum(1 for line in report.split("\r\n") if line.startswith("date/time "))
            if kind == "freeze" and reports != 2:
                problems.append(f"{reports} reports of the freeze, expected 2")
            if (header(report, "exception class") or "") != cls:
                problems.append(f"exception class {header(report, 'exception class')!r}, expected {cls!r}")
            if message and message not in (header(report, "exception message") or ""):
                problems.append(f"exception message {header(report, 'exception message')!r} lacks {message!r}")
            sections = report.split("\r\n\r\n")
            crashed = sections[1] if len(sections) > 1 else ""
            for function in functions:
                lines = [l for l in crashed.split("\r\n") if function in l]
                if not lines:
                    problems.append(f"crashed thread's stack does not name {function}")
                elif "CrashSuite" not in lines[0]:
                    problems.append(f"{function} without its unit: {lines[0]}")
            if kind.startswith("thread") and ">> created by main thread ($" not in crashed:
                problems.append("the crashed thread's creator is not named")
            if kind == "read" and os.environ.get("ZE_CRASH_SHOW"):
                print(report)
        status = "ok" if not problems else "FAILED: " + "; ".join(problems)
        print(f"{arch} {kind:11} exit {run.returncode}  {status}")
        if problems:
            failures.append(kind)
            if report:
                print(report[:3000])
    if os.path.exists(report_path):
        os.remove(report_path)
    print(f"{len(KINDS) - len(failures)} of {len(KINDS)} kinds as annotated")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
