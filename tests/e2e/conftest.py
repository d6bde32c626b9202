"""Shared fixtures of the end-to-end suite: the built program and a runner."""
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def pytest_configure(config):
    # --strict-markers would reject an unregistered name; a typo in a marker
    # would otherwise select nothing.
    config.addinivalue_line(
        "markers", "memcheck: the runs scripts/memcheck.sh repeats under valgrind's memcheck")


def velsend_path():
    path = os.path.abspath(os.environ.get("VELSEND_BIN") or str(ROOT / "build" / "velsend"))
    if not Path(path).exists():
        pytest.exit(f"velsend binary not found at {path}; build first or set VELSEND_BIN")
    return path


class Run:
    """Result of one run of the program."""

    def __init__(self, proc):
        self.status = proc.returncode
        self.stdout = proc.stdout
        self.stderr = proc.stderr

    @property
    def err(self):
        return self.stderr.decode("latin-1")

    @property
    def out(self):
        return self.stdout.decode("latin-1")


@pytest.fixture(scope="session")
def velsend_bin(tmp_path_factory):
    path = velsend_path()
    return wine_wrapper(path, tmp_path_factory) if WINE else path


@pytest.fixture
def velsend(velsend_bin, tmp_path):
    """Runs the program: velsend(*args, stdin=b"", timeout=60, cwd=tmp_path, env=None)."""

    def run(*args, stdin=b"", timeout=60, cwd=None, env=None):
        full_env = dict(os.environ)
        if env:
            full_env.update(env)
        proc = subprocess.run(
            [velsend_bin, *args],
            input=stdin,
            capture_output=True,
            timeout=timeout,
            cwd=cwd or tmp_path,
            env=full_env,
        )
        return Run(proc)

    return run


# --- The Windows program under Wine (VELSEND_WINE=1) ------------------------
# VELSEND_BIN then names velsend.exe, which every test starts through a small
# wrapper: wine runs it, and the runtime's text-mode CR LF on standard error
# is undone (wine_run.py), so the expectations hold as they are. The -#
# display is a window there, tested by test_windows.py.
WINE = os.environ.get("VELSEND_WINE") == "1"


def wine_wrapper(exe, tmp_path_factory):
    wrapper = tmp_path_factory.mktemp("wine") / "velsend"
    wrapper.write_text("#!/bin/sh\n"
                       f"exec /usr/bin/python3 '{Path(__file__).with_name('wine_run.py')}' "
                       f"'{exe}' \"$@\"\n")
    wrapper.chmod(0o755)
    return str(wrapper)


# Tests that need what Windows does not offer: (file, test name prefix, why).
WINE_SKIPS = [
    ("test_about.py", "test_display", "the Windows program shows -# in a window"),
    ("test_about.py", "test_terminal", "the Windows program shows -# in a window"),
    ("test_about.py", "test_missing_opener", "the Windows program shows -# in a window"),
    ("test_bad_input.py", "test_longest_values", "a Windows command line holds 32767 characters"),
    ("test_bad_input.py", "test_hundred_thousand", "a Windows command line holds 32767 characters"),
    ("test_bad_input.py", "test_ten_thousand_files", "a Windows command line holds 32767 characters"),
    ("test_bad_input.py", "test_line_break_injection_never_reaches_the_wire[f-name",
     "Windows file names hold no line breaks"),
    ("test_bad_input.py", "test_names_with_blanks_quotes",
     "Windows file names hold no quotes; UTF-8 names do not pass the ANSI code page"),
    ("test_headers_i18n.py", "test_", "UTF-8 and Shift_JIS arguments do not pass the ANSI code page"),
]


def pytest_collection_modifyitems(config, items):
    if not WINE:
        return
    for item in items:
        for file, prefix, why in WINE_SKIPS:
            if item.path.name == file and item.name.startswith(prefix):
                item.add_marker(pytest.mark.skip(reason=why))
