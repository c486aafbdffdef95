#!/usr/bin/env python3
"""The Windows installer in a fresh Wine prefix of its own, whose machine roots
hold the test authority: a silent install puts exactly the staged tree into
Program Files with the uninstaller and its entry in the system's list of
programs, and registers the agent's autostart; the installed tool runs from
there with the installed configuration and library; the silent uninstaller
leaves neither files nor registry entries behind. The smoke test runs the desktop
test's user steps (agent_desktop_win_test.cc) against the installed agent on
the test's display (Xvfb), then starts it again, opens a dialog (the
screenshot) and lets the uninstaller's -unregister close it.

  installer_test.py --installer SETUP.exe --stage STAGE/app --root-ca ROOT.pem
      --wine-run scripts/wine-run --wine-trust scripts/wine-trust
      --desktop-tests agent_desktop_tests.exe
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
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
AUTOSTART = "Corvane Brisko (Wardex.exe)"
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
        subprocess.run([f"{WINE_DIR}/wineserver", "-k"], env=self.env(), timeout=60)
        subprocess.run([f"{WINE_DIR}/wineserver", "-w"], env=self.env(), timeout=60)
        shutil.rmtree(self.folder, ignore_errors=True)

    def env(self):
        env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree=d;mshtml=d")
        # The installed programs must find their DLLs in their own folder.
        env.pop("WINEPATH", None)
        return env

    def wine_run(self, command, env=None):
        return subprocess.run([ARGS.wine_run, self.path] + command, capture_output=True,
                              text=True, timeout=240, env=dict(os.environ, **(env or {})))

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

    def test_installs_registers_and_uninstalls_it_all(self):
        # Where the scheduler takes no logon task (Wine told to be Windows XP
        # for the agent alone) the autostart entry is the Run value: Wine's
        # scheduler refuses the work item of a name with a dot.
        self.prefix.run(["reg", "add", r"HKCU\Software\Wine\AppDefaults\Wardex.exe", "/v",
                         "Version", "/d", "winxp64", "/f"])
        self.assertEqual(self.prefix.trust(ARGS.root_ca), 0)
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
            "DisplayIcon": "C:\\Program Files\\Corvane\\Wardex\\Wardex.exe,0",
        })
        # The installer's "Wardex.exe -register", logging for the user.
        code, out, _ = self.prefix.run(["reg", "query", RUN_KEY, "/v", AUTOSTART])
        self.assertIn('"%sWardex.exe"' % INSTALLED, out)
        with open(self.prefix.drive_c("users/%s/AppData/Local/Wardex/log/wardex.log"
                                      % os.environ.get("USER", "root")), errors="replace") as f:
            self.assertIn("WorkingDir: " + INSTALLED, f.read())

        # The installed tool finds its DLLs, the signed IPC library and the
        # channel of the installed configuration.
        code, out, err = self.prefix.run(
            ["C:\\" + INSTALL_DIR.replace("/", "\\") + "\\wardex-ipc.exe", "send", "x"])
        self.assertEqual((code, out), (1, ""))
        self.assertIn('wardex-ipc: no agent listens on the channel (channel "wardex-demo")', err)

        self.uninstall()
        self.assertNotEqual(self.prefix.run(["reg", "query", RUN_KEY, "/v", AUTOSTART])[0], 0)
        # The uninstaller's copy in the temporary folder goes at the next start.
        self.prefix.run(["wineboot", "-r"])
        temp = self.prefix.drive_c("users/%s/Temp" % os.environ.get("USER", "root"))
        self.assertEqual([name for name in os.listdir(temp) if name.startswith("~nsu")], [])

    def test_the_installed_agent_takes_the_users_steps(self):
        if not os.environ.get("DISPLAY"):
            self.skipTest("no display (run under xvfb-run)")
        self.assertEqual(self.prefix.trust(ARGS.root_ca), 0)
        self.install()
        steps = self.prefix.wine_run(
            ["Z:" + ARGS.desktop_tests, "--gtest_filter=AgentDesktopTest.TheUsersSteps*"],
            {"WARDEX_TEST_INSTALLED_APP": INSTALLED.rstrip("\\")})
        self.assertEqual(steps.returncode, 0, steps.stdout + steps.stderr)
        self.assertIn("[  PASSED  ] 1 test", steps.stdout)

        # The uninstaller's -unregister closes a running agent, a dialog open.
        # Every Wine program's output goes to a file or nowhere: background
        # programs it brings up would hold a pipe open.
        wine = ["setarch", os.uname().machine, "--addr-no-randomize", f"{WINE_DIR}/wine64"]
        quiet = dict(env=self.prefix.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        agent = subprocess.Popen(wine + [INSTALLED + "Wardex.exe"], **quiet)
        self.addCleanup(agent.kill)
        self.assertTrue(wait_until(lambda: subprocess.run(
            wine + [INSTALLED + "wardex-ipc.exe", "send", '{"ModuleRequest":5}'], **quiet,
            timeout=60).returncode == 0, 60))
        dialog = ('{"ModuleRequest":11,"MessageHeader":"Uninstall","Message":"Open while the '
                  'uninstaller runs","Buttons":[{"BTTX":"OK","BTID":1,"BTTY":1}]}')
        reply = tempfile.TemporaryFile("w+")
        self.addCleanup(reply.close)
        sender = subprocess.Popen(wine + [INSTALLED + "wardex-ipc.exe", "send", "--timeout",
                                          "60000", dialog], env=self.prefix.env(), stdout=reply,
                                  stderr=subprocess.DEVNULL)
        self.addCleanup(sender.kill)
        self.assertTrue(wait_until(lambda: subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--name", "^Uninstall$"],
            capture_output=True, timeout=10).returncode == 0, 60), "no dialog")
        subprocess.run(["import", "-window", "root", os.path.join(ARGS.shots, "dialog.png")],
                       timeout=30)
        self.uninstall()
        self.assertEqual(agent.wait(60), 0)
        # Closing answers the dialog with no button.
        self.assertEqual(sender.wait(60), 0)
        reply.seek(0)
        self.assertEqual(reply.read().strip(), '[{"ModuleIdentificator":"","ModuleRequest":11}]')


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--installer", required=True)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--root-ca", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--wine-trust", required=True)
    parser.add_argument("--desktop-tests", required=True,
                        help="agent_desktop_tests.exe, whose user steps the smoke test runs")
    parser.add_argument("--shots", default=tempfile.gettempdir(),
                        help="where the smoke test's screenshot goes (dialog.png)")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
