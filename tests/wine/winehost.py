"""Runs Windows programs under Wine, each test in a private prefix copied from
the template prefix, and looks at the result from outside."""
import contextlib
import os
import pwd
import re
import shutil
import subprocess
import time
import unittest
import uuid

from product_names import (CLEANUP_COMMAND_9X, CLEANUP_COMMAND_NT, CLEANUP_VALUE, DIGEST_RESOURCE,  # noqa: F401
                           GUID, INSTALLER, MUTEX_GLOBAL, MUTEX_LOCAL, PAYLOAD_FILE, PAYLOAD_LANGUAGE,
                           PAYLOAD_RESOURCE, RESOURCE_TYPE, RUNONCE_SUBKEY)

RUNONCE_KEY = "HKCU\\" + RUNONCE_SUBKEY
DEMO_MARKER = "installer-ran.txt"
TEST_USER = "webinst-test"

# The host configuration the test runs in (tests/CMakeLists.txt): "win32" (a
# 32-bit prefix), "wow64" (the 32-bit programs in a 64-bit prefix), or the
# x86-64 stand-in's "win64".
CONFIG = os.environ.get("WINE_CONFIG", "win32")

# Only what programs write to the debugger channel.
QUIET_DEBUG = "-all,warn+debugstr"
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def env(name):
    return os.environ[name]


def bootstrapper(variant=None):
    """The bootstrapper built around the demo payload, or around the test
    cabinet `variant` (see tests/payloads)."""
    if variant is None:
        return env("WEB_INSTALLER_EXE")
    return os.path.join(env("VARIANTS"), variant, "WebInstaller.exe")


def helper(name):
    return os.path.join(env("TEST_BIN"), name + ".exe")


# The bootstrapper's lines on the debugger channel, as Wine prints them with
# the warn class of its debugstr channel on: escaped, and cut after about 300
# characters.
REPORT = re.compile(r'OutputDebugStringA "QVLM: ((?:[^"\\]|\\.)*?)(?:\\n)?"')


class Result:
    def __init__(self, returncode, output):
        self.returncode = returncode
        self.output = output

    @property
    def reports(self):
        """The bootstrapper's debugger-channel lines, without their prefix."""
        return [m.group(1).encode("latin-1").decode("unicode_escape") for m in REPORT.finditer(self.output)]

    @property
    def stop(self):
        """The line that says how the run ended."""
        return self.reports[-1] if self.reports else ""


# Wine only reads the DLLs and programs of its system folders, which make up
# most of a prefix (a 64-bit one holds two sets, over a gigabyte): a copy
# links them. Everything else is copied: wineserver rewrites the registry
# files in place.
LINKED_FOLDERS = [os.path.join("drive_c", "windows", name) for name in ("system32", "syswow64")]


def linked(prefix, path):
    return any(os.path.relpath(path, prefix).startswith(folder + os.sep) for folder in LINKED_FOLDERS)


def copy_prefix(template, path):
    shutil.copytree(template, path, symlinks=True,
                    copy_function=lambda s, t: os.link(s, t) if linked(template, s) else shutil.copy2(s, t))


def give_prefix(path, user):
    """Makes the prefix `user`'s, but for the linked files, which stay the
    template's and readable to all."""
    account = pwd.getpwnam(user)
    for base, _, files in os.walk(path):
        for name in [base] + [os.path.join(base, f) for f in files if not linked(path, os.path.join(base, f))]:
            os.lchown(name, account.pw_uid, account.pw_gid)


class Prefix:
    """A private Wine prefix with a persistent server. Use as a context
    manager; the server is killed and the prefix removed at the end."""

    def __init__(self, name, locale=None, user=None):
        self.name = name
        root = os.path.join(env("TEST_WORK"), "prefixes")
        os.makedirs(root, exist_ok=True)
        self.path = os.path.join(root, f"{name}-{uuid.uuid4().hex[:8]}")
        copy_prefix(env("WINE_TEMPLATE"), self.path)
        users = os.path.join(self.path, "drive_c", "users")
        self.user_dir = os.path.join(users, next(
            n for n in sorted(os.listdir(users)) if n.lower() != "public" and not os.path.islink(os.path.join(users, n))))
        self.logs = self.path + ".logs"
        os.makedirs(self.logs)
        self.env = dict(os.environ, WINEPREFIX=self.path, WINELOADER=env("WINE_LOADER"), WINEDEBUG=QUIET_DEBUG)
        # Wine runs a prefix only for its owner, and finds its server through
        # a file that names the template owner's server folder.
        self.run_as = []
        if user:
            server_file = os.path.join(self.path, "wineserver")
            if os.path.exists(server_file):
                os.remove(server_file)
            give_prefix(self.path, user)
            self.run_as = ["runuser", "-u", user, "--"]
            self.env["HOME"] = self.path
        for var in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(var, None)
        if locale:
            for var in ("LANG", "LANGUAGE", "LC_CTYPE"):
                self.env.pop(var, None)
            self.env["LC_ALL"] = locale
        subprocess.run(self.run_as + [env("WINE_SERVER"), "-p"], env=self.env, check=True, **QUIET)
        self._runs = 0
        # The first program of a session also starts Wine's own services,
        # seconds under emulation; start them here, so that no test times
        # them. Wine makes a user's profile folders then, too. Under emulation
        # on a busy machine that took more than two minutes once.
        self.run("cmd", "/c", "exit", timeout=600)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        subprocess.run(self.run_as + [env("WINE_SERVER"), "-k"], env=self.env, **QUIET)
        subprocess.run(self.run_as + [env("WINE_SERVER"), "-w"], env=self.env, **QUIET)
        shutil.rmtree(self.path, ignore_errors=True)
        shutil.rmtree(self.logs, ignore_errors=True)

    # Processes. Output goes to a file, never a pipe: Wine's background
    # processes would hold a pipe open long after the program ended.
    def start(self, program, *args, cwd=None):
        self._runs += 1
        log_path = os.path.join(self.logs, f"run{self._runs}.log")
        with open(log_path, "wb") as log:
            process = subprocess.Popen(self.run_as + [env("WINE_LOADER"), program, *args], env=self.env, cwd=cwd,
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        process.log_path = log_path
        return process

    def output_so_far(self, process):
        with open(process.log_path, "rb") as log:
            return log.read().decode("utf-8", "replace").replace("\r\n", "\n")

    def finish(self, process, timeout=120):
        returncode = process.wait(timeout=timeout)
        return Result(returncode, self.output_so_far(process))

    def run(self, program, *args, timeout=120, cwd=None):
        return self.finish(self.start(program, *args, cwd=cwd), timeout=timeout)

    @contextlib.contextmanager
    def setting(self, **variables):
        """The programs started in the block see these environment variables."""
        saved = dict(self.env)
        self.env.update(variables)
        try:
            yield
        finally:
            self.env = saved

    def probe(self, *args, timeout=60):
        return self.run(helper("probe"), *args, timeout=timeout)

    # Places.
    @property
    def temp_dir(self):
        return os.path.join(self.user_dir, "Temp")

    @property
    def work_folder(self):
        return os.path.join(self.temp_dir, GUID)

    def windows_path(self, unix_path):
        rel = os.path.relpath(unix_path, os.path.join(self.path, "drive_c"))
        return "C:\\" + rel.replace("/", "\\")

    # Registry.
    def reg(self, *args):
        return self.run("reg", *args)

    def reg_value(self, subkey, name):
        """(type, bytes) of an HKCU value, or None when it is missing."""
        result = self.probe("regvalue", subkey, name)
        line = result.output.strip().splitlines()[-1] if result.output.strip() else ""
        if result.returncode != 0 or not line.startswith("type="):
            return None
        fields = dict(part.split("=", 1) for part in line.split())
        return int(fields["type"]), bytes.fromhex(fields["hex"])

    def cleanup_command(self):
        value = self.reg_value(RUNONCE_SUBKEY, CLEANUP_VALUE)
        return None if value is None else value[1]

    def set_windows_version(self, version, program="WebInstaller.exe"):
        """Makes Wine report `version` (nt40, win98, win2k, winxp, win7, win10,
        ...) to programs of that file name in this prefix."""
        key = "HKCU\\Software\\Wine\\AppDefaults\\" + program
        result = self.reg("add", key, "/v", "Version", "/d", version, "/f")
        assert result.returncode == 0, result.output

    def mutex_exists(self, name):
        return self.probe("mutex", name).returncode == 0


def unprivileged_user():
    """A user without root's rights, for what those rights would hide (root
    writes to read-only files); None where the tests do not run as root."""
    if os.geteuid() != 0:
        return None
    if subprocess.run(["id", "-u", TEST_USER], **QUIET).returncode != 0:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", TEST_USER],
                       check=True, **QUIET)
    return TEST_USER


def assert_stopped(test, result, reason):
    """The run ended before the launch, and its last line on the debugger
    channel says why: `reason`, not another defence."""
    test.assertIn(reason, result.stop, result.reports)
    test.assertNotIn("installer started", result.output)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def tree(folder):
    """Relative paths of every file and folder below `folder`, sorted."""
    found = []
    for root, dirs, files in os.walk(folder):
        for n in dirs + files:
            found.append(os.path.relpath(os.path.join(root, n), folder))
    return sorted(found)


def wait_for(predicate, timeout=30, interval=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(interval)
    return predicate()


class PrefixTest(unittest.TestCase):
    """A test case with a fresh prefix of its own for every test method, in
    the class's locale and for its user when it names them."""
    locale = None
    user = None

    def setUp(self):
        self.prefix = Prefix(self.id().rsplit(".", 1)[-1], locale=self.locale, user=self.user)
        self.addCleanup(self.prefix.close)

    def run_bootstrapper(self, variant=None):
        """Runs the bootstrapper to its end; it exits with 0 on every road."""
        result = self.prefix.run(bootstrapper(variant))
        self.assertEqual(0, result.returncode, result.output)
        return result
