"""The command-line front end: usage, dispatch, validation order, statuses."""
import re

import pytest

from conftest import ROOT, WINE

# "/" starts a switch on Windows only.
SLASH = "/" if WINE else "-"

# The usage text as the program has always written it, up to its last
# line (the documentation's address); the unit tests read the same file.
USAGE = (ROOT / "tests" / "data" / "usage.txt").read_text()


def status_line(status, name):
    return f"Program Exiting[{status} ({name})]\n"


def assert_usage_then(run, status, name):
    assert run.status == status
    lines = run.err.split("\n")
    # 30 lines of usage, then the status line.
    assert run.err.startswith(USAGE)
    assert lines[28].startswith("More Information: <") and lines[28].endswith(">")
    assert lines[29] == ""
    assert "\n".join(lines[30:]) == status_line(status, name)
    assert run.stdout == b""


@pytest.mark.parametrize("args", [["-?"], [SLASH + "?"], ["-?junk"], ["-#", "-?"],
                                  ["-?", "-oa", "-rb", "-sc", "-hd", "-f,"]])
def test_usage_wins_and_reads_nothing(velsend, args):
    run = velsend(*args, stdin=b"must not be read\n")
    assert_usage_then(run, 0, "ERROR_NONE")


@pytest.mark.parametrize("args,status,name", [
    ([], 1, "ERROR_NO_ORIGINATOR"),
    (["-Oa", "-rb", "-sc", "-hd"], 1, "ERROR_NO_ORIGINATOR"),
    (["-q", "-rb", "-sc", "-hd"], 1, "ERROR_NO_ORIGINATOR"),
    ([SLASH + "oa", "-sc", "-hd"], 2, "ERROR_NO_RECIPIENTS"),
    (["-oa", "-rb", "-hd", "-mCRAM-MD5"], 3, "ERROR_NO_SUBJECT"),
    (["-oa", "-rb", "-sc"], 4, "ERROR_NO_HOST"),
    (["-oa", "-rb", "-sc", "-hd", "-m"], 8, "ERROR_INVALID_ESMTP_METHOD"),
    (["-oa", "-rb", "-sc", "-hd", "-mDIGEST-MD5"], 8, "ERROR_INVALID_ESMTP_METHOD"),
])
def test_validation_order(velsend, args, status, name):
    assert_usage_then(velsend(*args), status, name)


def test_help_names_every_method_and_what_b_does(velsend):
    # Standard output is a text stream on Windows: CR LF line ends there.
    out = velsend("--help").out.replace("\r\n", "\n")
    options = out[out.index("\nMore Information: "):]
    methods = re.search(r"\n  -m<ESMTP method> +(.*)\n", options).group(1)
    for name in ("PLAIN", "LOGIN", "CRAM-MD5", "XOAUTH2", "OAUTHBEARER"):
        assert name in methods
        assert velsend("-oa", "-rb", "-sc", f"-m{name.lower()}", "--dry-run").status == 0
    assert re.search(r"\n  -b +Accepted for compatibility; waits for no key\n", options)


def test_marker_warnings_in_uuencode_mode(velsend):
    run = velsend("-oa", "-rb", "-sc", "-h127.0.0.1:1", "-u", "-f+nope.bin")
    assert run.err.startswith("Warning: +nope.bin,'+' ignored on non MIME message\n")
    assert ">>Error attaching file nope.bin\n" in run.err
    run = velsend("-oa", "-rb", "-sc", "-h127.0.0.1:1", "-U", "-f#nope.gif")
    assert run.err.startswith("Warning: #nope.gif,'#' ignored on non MIME message\n")
    run = velsend("-oa", "-rb", "-sc", "-h127.0.0.1:1", "-f#nope.gif")
    assert run.err.startswith("Cannot read nope.gif: No such file or directory\n"
                              ">>Error attaching file nope.gif\n")


def test_quiet_still_prints_status_line(velsend):
    run = velsend("-q", "-oa", "-rb", "-sc", "-hd", "-mX")
    assert run.err.endswith(status_line(8, "ERROR_INVALID_ESMTP_METHOD"))
