#!/usr/bin/env python3
"""The Windows installer in a fresh Wine prefix of its own: a silent install
puts exactly the staged tree into Program Files with the uninstaller and its
entry in the system's list of programs; the installed tool runs from there
with the installed configuration and library; the silent uninstaller leaves
neither files nor registry entries behind.

  installer_test.py --installer SETUP.exe --stage STAGE/app --root-ca ROOT.pem
      --wine-run scripts/wine-run
"""
import argparse
import base64
import filecmp
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

WINE_DIR = "/usr/lib/wine"
INSTALL_DIR = "Program Files/Corvane/Wardex"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Wardex"
ARGS = None


class WinePrefix:
    """A new prefix in a temporary folder; Wine's server ended and the folder
    removed on close."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="wardex-installer-")
        self.path = os.path.join(self.folder, "prefix")
        # scripts/wine-run makes the prefix as the other Windows tests have it.
        self.wine_run(["cmd", "/c", "exit"])

    def close(self):
        subprocess.run([f"{WINE_DIR}/wineserver", "-k"], env=self.env(), check=False)
        subprocess.run([f"{WINE_DIR}/wineserver", "-w"], env=self.env(), check=False)
        shutil.rmtree(self.folder, ignore_errors=True)

    def env(self):
        env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree=d;mshtml=d")
        # The installed programs must find their DLLs in their own folder.
        env.pop("WINEPATH", None)
        return env

    def wine_run(self, command):
        return subprocess.run([ARGS.wine_run, self.path] + command, capture_output=True,
                              text=True, timeout=240)

    def run(self, command, timeout=60):
        """Runs a Windows program with the prefix's environment alone; its
        output goes through files, as Wine's background programs would hold a
        pipe open."""
        with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
            done = subprocess.run(
                ["setarch", os.uname().machine, "--addr-no-randomize", f"{WINE_DIR}/wine64"]
                + command, stdout=out, stderr=err, env=self.env(), timeout=timeout)
            out.seek(0)
            err.seek(0)
            return done.returncode, out.read(), err.read()

    def drive_c(self, path):
        return os.path.join(self.path, "drive_c", path)

    def trust(self, pem_file):
        """Adds the test authority to the machine's root store, as a
        registry entry of the certificate's serialised form."""
        pem = open(pem_file).read()
        body = re.search(r"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", pem, re.S)
        der = base64.b64decode("".join(body.group(1).split()))
        blob = struct.pack("<III", 32, 1, len(der)) + der  # the certificate's property
        key = ("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
               + hashlib.sha1(der).hexdigest().upper())
        reg = os.path.join(self.folder, "root.reg")
        with open(reg, "w", newline="\r\n") as f:
            f.write("Windows Registry Editor Version 5.00\n\n[%s]\n\"Blob\"=hex:%s\n"
                    % (key, ",".join("%02x" % b for b in blob)))
        return self.run(["reg", "import", "Z:" + reg.replace("/", "\\")])[0]

    def registry_values(self, key):
        """The values of |key| as {name: data}; None when the key is missing."""
        code, out, _ = self.run(["reg", "query", key])
        if code != 0:
            return None
        values = {}
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2]
        return values


def tree(folder):
    """Every file below |folder|, relative, with "/" separators."""
    files = set()
    for base, _, names in os.walk(folder):
        for name in names:
            files.add(os.path.relpath(os.path.join(base, name), folder).replace(os.sep, "/"))
    return files


def wait_until(condition, seconds):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.2)
    return True


class InstallerTest(unittest.TestCase):
    def setUp(self):
        self.prefix = WinePrefix()
        self.addCleanup(self.prefix.close)
        self.installed = self.prefix.drive_c(INSTALL_DIR)

    def install(self):
        code, _, err = self.prefix.run(["Z:" + ARGS.installer.replace("/", "\\"), "/S"], 120)
        self.assertEqual(code, 0, err)

    def uninstall(self):
        # The uninstaller copies itself to the temporary folder and runs from
        # there, so that it can remove itself: the first process ends at once.
        code, _, err = self.prefix.run(
            ["C:\\" + INSTALL_DIR.replace("/", "\\") + "\\uninstall.exe", "/S"])
        self.assertEqual(code, 0, err)
        self.assertTrue(wait_until(lambda: not os.path.exists(self.installed), 60),
                        "left behind: %s" % sorted(tree(self.installed)))

    def test_installs_the_staged_tree_and_uninstalls_it_all(self):
        self.install()
        self.assertEqual(tree(self.installed), tree(ARGS.stage) | {"uninstall.exe"})
        for file in tree(ARGS.stage):
            self.assertTrue(filecmp.cmp(os.path.join(ARGS.stage, file),
                                        os.path.join(self.installed, file), shallow=False), file)
        self.assertEqual(self.prefix.registry_values(UNINSTALL_KEY), {
            "DisplayName": "Wardex",
            "DisplayVersion": ARGS.version,
            "Publisher": "Corvane",
            "InstallLocation": "C:\\Program Files\\Corvane\\Wardex",
            "UninstallString": '"C:\\Program Files\\Corvane\\Wardex\\uninstall.exe"',
            "QuietUninstallString": '"C:\\Program Files\\Corvane\\Wardex\\uninstall.exe" /S',
            "NoModify": "0x1",
            "NoRepair": "0x1",
        } | ({"DisplayIcon": "C:\\Program Files\\Corvane\\Wardex\\Wardex.exe,0"}
             if "Wardex.exe" in tree(ARGS.stage) else {}))

        # The installed tool finds its DLLs, the signed IPC library and the
        # channel of the installed configuration.
        self.assertEqual(self.prefix.trust(ARGS.root_ca), 0)
        code, out, err = self.prefix.run(
            ["C:\\" + INSTALL_DIR.replace("/", "\\") + "\\wardex-ipc.exe", "send", "x"])
        self.assertEqual((code, out), (1, ""))
        self.assertIn('wardex-ipc: no agent listens on the channel (channel "wardex-demo")', err)

        self.uninstall()
        self.assertFalse(os.path.exists(self.prefix.drive_c("Program Files/Corvane")))
        self.assertIsNone(self.prefix.registry_values(UNINSTALL_KEY))

if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--installer", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--root-ca", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--wine-run", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
