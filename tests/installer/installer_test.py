#!/usr/bin/env python3
"""The Windows installer in a fresh Wine prefix of its own: a silent install
puts exactly the staged tree into Program Files with the uninstaller and its
entry in the system's list of programs; the installed tool runs from there
with the installed configuration and library; the silent uninstaller leaves
neither files nor registry entries behind. The smoke test starts the
installed agent on the test's display (Xvfb): its icon shows in Wine's
system tray window, it answers kind 5, and the uninstaller's -unregister
closes it.

  installer_test.py --installer SETUP.exe --stage STAGE/app --root-ca ROOT.pem
      --wine-run scripts/wine-run --wine-trust scripts/wine-trust
"""
import argparse
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

WINE_DIR = "/usr/lib/wine"
INSTALL_DIR = "Program Files/Corvane/Wardex"
INSTALLED = "C:\\Program Files\\Corvane\\Wardex\\"
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
        """Makes the test authority a root of the machine (scripts/wine-trust)."""
        return subprocess.run([ARGS.wine_trust, self.path, pem_file], capture_output=True,
                              timeout=120).returncode

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
        # Its last steps: the company's folder, then the registry entry.
        company = os.path.dirname(self.installed)
        self.assertTrue(wait_until(lambda: not os.path.exists(company), 60),
                        "left behind: %s" % sorted(tree(company)))
        self.assertTrue(wait_until(lambda: self.prefix.registry_values(UNINSTALL_KEY) is None, 30))

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
    def wine(self, program, *arguments):
        return ["setarch", os.uname().machine, "--addr-no-randomize", f"{WINE_DIR}/wine64",
                INSTALLED + program] + list(arguments)

    def tray_window_pixels(self):
        """The pixels of Wine's system tray window as (r, g, b) tuples."""
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Wine System Tray"],
                               capture_output=True, text=True)
        if not found.stdout.split():
            return []
        shot = subprocess.run(["import", "-window", found.stdout.split()[0], "-depth", "8",
                               "ppm:-"], capture_output=True)
        # Binary PPM: "P6", width, height, maximum, then the pixels.
        header = shot.stdout.split(maxsplit=4)
        if len(header) < 5 or header[0] != b"P6":
            return []
        data = header[4]
        return [tuple(data[i:i + 3]) for i in range(0, len(data) - 2, 3)]

    def test_the_installed_agent_shows_its_icon_answers_and_ends(self):
        if "Wardex.exe" not in tree(ARGS.stage):
            self.skipTest("this build has no Wardex.exe")
        if not os.environ.get("DISPLAY"):
            self.skipTest("no display (run under xvfb-run)")
        self.install()
        self.assertEqual(self.prefix.trust(ARGS.root_ca), 0)
        with tempfile.TemporaryFile() as out:
            agent = subprocess.Popen(self.wine("Wardex.exe"), stdout=out, stderr=out,
                                     env=self.prefix.env())
            self.addCleanup(agent.kill)
            reply = None

            def answered():
                nonlocal reply
                done = subprocess.run(self.wine("wardex-ipc.exe", "send", '{"ModuleRequest":5}'),
                                      capture_output=True, text=True, env=self.prefix.env())
                reply = done.stdout
                return done.returncode == 0

            self.assertTrue(wait_until(answered, 60), "kind 5 was not answered")
            self.assertEqual(reply.replace("\r", ""),
                             '[{"ModuleIdentificator":"","ModuleRequest":5}]\n')
            # The shield's blue in the tray window.
            self.assertTrue(wait_until(lambda: any(b > 150 and r < 80 for r, _, b in
                                                   self.tray_window_pixels()), 30),
                            "no icon in Wine's system tray window")
            subprocess.run(["import", "-window", "root", os.path.join(ARGS.shots, "tray.png")],
                           check=False)
            # The uninstaller's -unregister closes the running agent.
            self.uninstall()
            self.assertEqual(agent.wait(60), 0)
        with open(self.prefix.drive_c("users/%s/AppData/Local/Wardex/log/wardex.log"
                                      % os.environ.get("USER", "root")), errors="replace") as f:
            log = f.read()
        for text in ("Tray ### On Create MainFrame done", "TRAY ### Closing...",
                     "TRAY ### Remove Icon"):
            self.assertIn(text, log)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--installer", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--root-ca", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--wine-trust", required=True)
    parser.add_argument("--shots", default=tempfile.gettempdir(),
                        help="where the smoke test's screenshot goes")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
