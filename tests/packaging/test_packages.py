#!/usr/bin/env python3
"""Tests of the release files that tools/package.sh wrote into DIST (default dist/), the installers
in a throwaway 64-bit Wine prefix (x86 only where this host runs 32-bit programs).

    VARNOLT_HOST_RUNS_I386=1|0 python3 tests/packaging/test_packages.py DIST [unittest options]
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DIST = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 and not sys.argv[1].startswith("-") \
    else os.path.join(ROOT, "dist")
with open(os.path.join(ROOT, "CMakeLists.txt")) as cmake_lists:
    VERSION = re.search(r"project\(varnolt VERSION (\d+\.\d+\.\d+)", cmake_lists.read()).group(1)
PRODUCT = "VARNOLT control program"
ZIP_FILES = {"varnolt.exe", "varnoltctl.exe", "README.txt", "LICENSE.txt",
             "THIRD-PARTY-NOTICES.txt"}
ARCHES = {
    "x86": {"preset": "windows", "machine": "i386", "template": "Intel;1033",
            "program_files": "ProgramFilesFolder",
            "folder": r"C:\Program Files (x86)\VARNOLT"},
    "x64": {"preset": "windows-x64", "machine": "x86-64", "template": "x64;1033",
            "program_files": "ProgramFiles64Folder",
            "folder": r"C:\Program Files\VARNOLT"}}
UNINSTALL_KEYS = [r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall",
                  r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall"]


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def host_runs_i386():
    said = os.environ.get("VARNOLT_HOST_RUNS_I386")
    return said == "1" if said in ("0", "1") else run(["bash", "-c", "source tools/wine/arch.sh && "
        "host_runs_i386 build/native/tools/wine/varnolt-i386-probe"], cwd=ROOT).returncode == 0


class PortableZipTest(unittest.TestCase):
    def test_zip_holds_the_five_files_texts_for_windows_programs_of_its_word_size(self):
        sources = {"LICENSE.txt": "LICENSE", "README.txt": "packaging/windows/README.txt",
                   "THIRD-PARTY-NOTICES.txt": "THIRD-PARTY-NOTICES.txt"}
        checker = os.path.join(ROOT, "tests", "app", "check_program_file.py")
        for arch, facts in ARCHES.items():
            with self.subTest(arch=arch), zipfile.ZipFile(zip_path(arch)) as archive, \
                    tempfile.TemporaryDirectory() as work:
                self.assertEqual(set(archive.namelist()), ZIP_FILES)
                for name, source in sources.items():  # with CRLF line ends
                    with open(os.path.join(ROOT, source), "rb") as original:
                        self.assertEqual(archive.read(name),
                                         original.read().replace(b"\n", b"\r\n"), name)
                # Of the word size (the rest: the builds' program_file tests).
                for program in ("varnolt.exe", "varnoltctl.exe"):
                    checked = run([sys.executable, checker, archive.extract(program, work),
                                   "--machine", facts["machine"]])
                    self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)


def zip_path(arch):
    return os.path.join(DIST, f"varnolt-{VERSION}-windows-{arch}.zip")


NATIVE_ARCH = run(["dpkg", "--print-architecture"], check=True).stdout.strip()
MULTIARCH = {"amd64": "x86_64-linux-gnu", "arm64": "aarch64-linux-gnu"}


class DebianPackage:
    """The checks of both architectures' packages, mixed into a TestCase per architecture."""
    arch = None

    @classmethod
    def setUpClass(cls):
        cls.deb = os.path.join(DIST, f"varnoltctl_{VERSION}_{cls.arch}.deb")
        cls.root = tempfile.mkdtemp(prefix=f"varnolt-deb-{cls.arch}-")
        run(["dpkg", "-x", cls.deb, cls.root], check=True)
        cls.binary = os.path.join(cls.root, "usr/bin/varnoltctl")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def test_contents_are_the_command_its_page_and_the_listed_files(self):
        listing = run(["dpkg-deb", "--contents", self.deb], check=True).stdout.splitlines()
        files = {line.split()[-1].removeprefix("./") for line in listing if line[0] != "d"}
        # packaging/debian/varnoltctl.install: source, path in the package, mode.
        with open(os.path.join(ROOT, "packaging/debian/varnoltctl.install")) as install:
            listed = {words[1]: words[0] for words in (line.split("#")[0].split()
                                                        for line in install) if words}
        self.assertEqual(files, set(listed) | {"usr/bin/varnoltctl",
                                               "usr/share/man/man1/varnoltctl.1.gz",
                                               "usr/share/doc/varnoltctl/changelog.gz"})
        self.assertIn("usr/lib/udev/rules.d/70-varnolt.rules", files)  # (the rest: lintian, bash)
        for path, source in listed.items():
            with open(os.path.join(self.root, path), "rb") as packaged, \
                    open(os.path.join(ROOT, source), "rb") as original:
                self.assertEqual(packaged.read(), original.read(), path)
        control = run(["dpkg-deb", "-f", self.deb, "Architecture", "Version", "Recommends"],
                      check=True).stdout
        # No Debian revision: a native package. (The service settings' conffile: lintian.)
        self.assertEqual(control, f"Architecture: {self.arch}\nVersion: {VERSION}\n"
                                  "Recommends: avahi-daemon\n")

    def test_lintian_finds_no_tag(self):
        # Of any level: a file not owned by root, a program's mode, a hardening flag, groff's
        # warnings on the manual page, ...
        said = run(["lintian", "--pedantic", "-I", "-E", "--tag-display-limit", "0", self.deb])
        self.assertEqual((said.returncode, said.stdout), (0, ""), said.stderr)

    def test_program_depends_on_every_library_it_needs(self):
        # (Of the architecture: lintian's binary-from-other-architecture.)
        depends = {re.match(r"\s*([^\s(]+)", part).group(1)
                   for part in run(["dpkg-deb", "-f", self.deb, "Depends"],
                                   check=True).stdout.split(",")}
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(\S+)\]",
                            run(["readelf", "--wide", "-d", self.binary], check=True).stdout)
        self.assertTrue(needed)
        for library in needed:
            # The packages that ship its installed copy of the architecture (in /lib or /usr/lib).
            said = run(["dpkg", "-S", f"*/{MULTIARCH[self.arch]}/{library}"]).stdout.splitlines()
            found = {package.split(":")[0] for line in said
                     for package in line.split(": ", 1)[0].split(", ")}
            self.assertTrue(found & depends, f"{library} comes from {found}, not in {depends}")

    def test_program_is_hardened(self):
        # Its control-flow check knows x86's mark only.
        said = run(["hardening-check", *(["--nocfprotection"] if self.arch != "amd64" else []),
                    self.binary])
        self.assertEqual(said.returncode, 0, said.stdout + said.stderr)


class DebianPackageNativeTest(DebianPackage, unittest.TestCase):
    arch = NATIVE_ARCH

    def test_page_renders(self):
        page = run(["man", "-l",
                    os.path.join(self.root, "usr/share/man/man1/varnoltctl.1.gz")],
                   env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8", MANPAGER="cat"))
        for heading in ("NAME", "SYNOPSIS", "EXAMPLES", f"varnoltctl {VERSION}", "--freq-code"):
            self.assertIn(heading, page.stdout)

    def complete(self, *words):
        script = os.path.join(self.root, "usr/share/bash-completion/completions/varnoltctl")
        quoted = " ".join("'" + word + "'" for word in words)
        said = run(["env", "-i", "bash", "--norc", "--noprofile", "-c",
                    f'source "{script}"; complete -p varnoltctl; COMP_WORDS=({quoted}); '
                    f'COMP_CWORD={len(words) - 1}; _varnoltctl; '
                    f'printf "%s\\n" "${{COMPREPLY[@]}}"'], check=True)
        loaded, *offered = said.stdout.splitlines()
        self.assertEqual(loaded, "complete -F _varnoltctl varnoltctl")
        return offered

    def test_completion_offers_what_the_program_accepts(self):
        self.assertEqual(self.complete("varnoltctl", "st"), ["start", "stop"])
        helped = run([self.binary, "--help"], check=True).stdout
        subcommands = re.findall(r"^([a-z]+)$", helped.split("Subcommands:")[1], re.M)
        self.assertEqual(self.complete("varnoltctl", ""), subcommands + ["--help", "--version"])
        for subcommand in subcommands:
            with self.subTest(subcommand=subcommand):
                helped = run([self.binary, subcommand, "--help"], check=True).stdout
                options = set(re.findall(r"^\s+(?:-\w,)?(--[\w-]+)", helped, re.M))
                self.assertEqual(set(self.complete("varnoltctl", subcommand, "--")), options)
                for option, choices in re.findall(r"^\s+(--[\w-]+) TEXT:\{([^}]*)\}", helped, re.M):
                    # After "--wave ", "--wave=" and "--wave=..." (bash splits at the "=").
                    for typed in ([option, ""], [option, "="], [option, "=", ""]):
                        self.assertEqual(self.complete("varnoltctl", subcommand, *typed),
                                         choices.split(","), typed)

    def test_postinst_reloads_udev_only_where_it_runs(self):
        control = os.path.join(self.root, "DEBIAN")
        run(["dpkg-deb", "-e", self.deb, control], check=True)
        with tempfile.TemporaryDirectory() as fake_bin:
            calls = os.path.join(fake_bin, "calls")
            # An udevadm that fails, as the real one does where udev does not run.
            with open(os.path.join(fake_bin, "udevadm"), "w") as fake:
                fake.write(f'#!/bin/sh\necho "$1" >>"{calls}"\nexit 1\n')
            os.chmod(os.path.join(fake_bin, "udevadm"), 0o755)
            for path in ("/nonexistent", fake_bin):  # without udevadm, and with it
                with self.subTest(path=path):
                    said = run(["/bin/sh", os.path.join(control, "postinst"), "configure"],
                               env={"PATH": path})
                    self.assertEqual(said.returncode, 0, said.stderr)
            called = open(calls).read().split() if os.path.exists(calls) else []
        udev_runs = os.path.exists("/run/udev/control")
        self.assertEqual(called, ["control", "trigger"] if udev_runs else [])


# Made by the native package's function: its files beside the program are the native tests'.
class DebianPackageForeignTest(DebianPackage, unittest.TestCase):
    arch = "arm64"


class BuildinfoTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(DIST, f"varnolt-{VERSION}.buildinfo")) as buildinfo:
            cls.text = buildinfo.read()

    def field(self, name):
        found = re.search(rf"^{name}:(.*(?:\n .*)*)", self.text, re.M)
        self.assertIsNotNone(found, name)
        return found.group(1)

    def test_it_holds_every_other_release_file_and_its_checksum(self):
        listed = [line.split() for line in self.field("Checksums-Sha256").splitlines()[1:]]
        others = [name for name in os.listdir(DIST) if not name.endswith(".buildinfo")]
        self.assertEqual(sorted(name for _, _, name in listed), sorted(others))
        said = run(["sha256sum", "--check", "--strict"], cwd=DIST,
                   input="".join(f"{digest}  {name}\n" for digest, _, name in listed))
        self.assertEqual(said.returncode, 0, said.stdout + said.stderr)

    def test_it_names_the_installed_version_of_each_tool_and_library(self):
        depends = dict(re.findall(r"^ (\S+) \(= (\S+)\),?$", self.field(
            "Installed-Build-Depends"), re.M))
        with open(os.path.join(ROOT, "packaging", "buildinfo-packages")) as listed:
            packages = [line.strip() for line in listed if line.strip()[:1] not in ("", "#")]
        for package in packages:
            with self.subTest(package=package):
                # One version a line: a package may be installed for more than one architecture.
                installed = run(["dpkg-query", "-W", "-f", "${Version}\n", package], check=True)
                self.assertIn(depends.get(package), installed.stdout.split())
        # With what they depend on, such as wixl's libraries.
        wixl = run(["dpkg-query", "-W", "-f", "${Depends}", "wixl"], check=True).stdout
        for relation in wixl.split(","):
            with self.subTest(dependency=relation):
                self.assertTrue(any(name.split()[0] in depends for name in relation.split("|")))

    def test_no_build_path_user_or_host(self):
        for word in (ROOT, os.environ.get("USER", "root"), os.uname().nodename):
            self.assertNotIn(f"{word}", self.text.replace("root/root", ""))


def msi_table(msi, table):
    rows = run(["msiinfo", "export", msi, table], check=True).stdout.splitlines()[3:]
    return [row.split("\t") for row in rows]


class InstallerTablesTest(unittest.TestCase):
    """What an install under Wine does not show: the word size and the per-machine scope."""

    def test_each_word_size_installs_per_machine_into_its_program_files(self):
        for arch, facts in ARCHES.items():
            with self.subTest(arch=arch):
                msi = installer_path(arch)
                summary = run(["msiinfo", "suminfo", msi], check=True).stdout
                self.assertIn(f"Template: {facts['template']}\n", summary)
                self.assertEqual(dict(msi_table(msi, "Property")).get("ALLUSERS"), "1")
                # Where 32-bit programs cannot run, only this shows the x86 installer's folder.
                self.assertIn(["INSTALLDIR", facts["program_files"], "VARNOLT"],
                              msi_table(msi, "Directory"))
                # Components of the 64-bit installer are 64-bit (attribute 256), the others not.
                bits = {int(row[3]) & 256 for row in msi_table(msi, "Component")}
                self.assertEqual(bits, {256 if arch == "x64" else 0})


def installer_path(arch):
    return os.path.join(DIST, f"varnolt-{VERSION}-{arch}.msi")


class Wine:
    """One 64-bit prefix for the run's installers, made when the first one needs it."""
    work = prefix = env = None

    @classmethod
    def start(cls):
        cls.work = tempfile.mkdtemp(prefix="varnolt-packages-")
        cls.prefix = os.path.join(cls.work, "prefix")
        cls.env = dict(os.environ, WINEPREFIX=cls.prefix, WINEARCH="win64", WINEDEBUG="-all",
                       WINELOADER="/usr/lib/wine/wine64",
                       # No desktop entries for the shortcuts in the user's own menus.
                       WINEDLLOVERRIDES="winemenubuilder.exe=d",
                       XDG_DATA_HOME=os.path.join(cls.work, "xdg-data"),
                       XDG_CONFIG_HOME=os.path.join(cls.work, "xdg-config"))
        said = run(["bash", os.path.join(ROOT, "tools/wine/make-prefix.sh"), cls.prefix],
                   env=cls.env, timeout=300)
        if said.returncode != 0:
            raise RuntimeError(f"make-prefix.sh failed: {said.stdout + said.stderr}")

    @classmethod
    def run(cls, *args, **env):
        return run(["/usr/lib/wine/wine64", *args], env=dict(cls.env, **env), cwd=cls.work,
                   timeout=120)

    @classmethod
    def msiexec(cls, action, msi):
        """Its exit code; no pipe, which the installer service it starts would hold open."""
        return subprocess.run(
            ["/usr/lib/wine/wine64", "msiexec", action, "Z:" + msi.replace("/", "\\"), "/qn"],
            env=cls.env, cwd=cls.work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            timeout=120).returncode

    @classmethod
    def unix_path(cls, windows_path):
        return os.path.join(cls.prefix, "drive_c", windows_path[3:].replace("\\", "/"))

    @classmethod
    def stop(cls):
        # The server writes the registry as it ends: wait for that before removing the prefix.
        run(["wineserver", "-k"], env=cls.env)
        run(["wineserver", "-w"], env=cls.env)
        shutil.rmtree(cls.work, ignore_errors=True)


def shortcut(path):
    """Target, arguments and icon of a .lnk file: its one ANSI path of a program, and of its UTF-16
    texts (each after its length, which may show as a character) the /k command and an icon."""
    ansi, utf16 = (run(["strings", "-a", *encoding, path], check=True).stdout
                   for encoding in ([], ["-e", "l"]))
    found = (re.search(pattern, text, re.M | re.I) for pattern, text in (
        (r"[A-Z]:\\.*\.exe$", ansi), (r"/k .*", utf16), (r"[A-Z]:\\.*\.ico$", utf16)))
    return [match.group(0) if match else "" for match in found]


HOST_RUNS_I386 = host_runs_i386()


class WineInstaller:
    """One installer's life, in the order of the test names; mixed into a TestCase per word size."""
    arch = None

    @classmethod
    def setUpClass(cls):
        if Wine.work is None:
            Wine.start()
        cls.preset, cls.folder = ARCHES[cls.arch]["preset"], ARCHES[cls.arch]["folder"]
        cls.icon = os.path.join(ROOT, "build", cls.preset, "res", "varnolt.ico")
        major, minor, patch = VERSION.split(".")
        cls.next_version = f"{major}.{minor}.{int(patch) + 1}"
        cls.next_msi = os.path.join(Wine.work, f"varnolt-{cls.next_version}-{cls.arch}.msi")

    @classmethod
    def tearDownClass(cls):
        # Whatever a failed step left, so that the other word size starts from an empty prefix.
        for msi in (cls.next_msi, installer_path(cls.arch)):
            if os.path.exists(msi):
                Wine.msiexec("/x", msi)

    @staticmethod
    def installed_versions():
        versions = []
        for key in UNINSTALL_KEYS:
            for entry in re.split(r"\n(?=HKEY_)", Wine.run("reg", "query", key, "/s").stdout):
                if re.search(rf"DisplayName\s+REG_SZ\s+{PRODUCT}\s*$", entry, re.M):
                    versions += re.findall(r"DisplayVersion\s+REG_SZ\s+(\S+)", entry)
        return versions

    def installed_files(self):
        folder = Wine.unix_path(self.folder)
        return set(os.listdir(folder)) if os.path.isdir(folder) else set()

    def test_1_installs_the_zips_files_into_program_files(self):
        self.assertEqual(Wine.msiexec("/i", installer_path(self.arch)), 0)
        self.assertEqual(self.installed_files(), ZIP_FILES)
        with zipfile.ZipFile(zip_path(self.arch)) as archive:
            for name in ZIP_FILES:
                with open(os.path.join(Wine.unix_path(self.folder), name), "rb") as installed:
                    self.assertEqual(installed.read(), archive.read(name), name)
        self.assertEqual(self.installed_versions(), [VERSION])

    def test_2_shortcuts_start_the_panel_and_a_console_with_varnoltctl_on_its_path(self):
        # Wine puts per-machine shortcuts in the user's menu (Windows: in the common one).
        menus = glob.glob(os.path.join(Wine.prefix, "drive_c", "users", "*", "AppData", "Roaming",
                                       "Microsoft", "Windows", "Start Menu", "Programs", "VARNOLT"))
        self.assertEqual(len(menus), 1, menus)
        panel, console = (os.path.join(menus[0], f"VARNOLT {name}.lnk")
                          for name in ("control program", "command line"))
        self.assertEqual(set(os.listdir(menus[0])), {os.path.basename(panel),
                                                     os.path.basename(console)})
        target, _, icon = shortcut(panel)
        self.assertEqual(target.lower(), (self.folder + r"\varnolt.exe").lower())
        with open(Wine.unix_path(icon), "rb") as shown, open(self.icon, "rb") as drawn:
            self.assertEqual(shown.read(), drawn.read(), "the shortcut's icon")
        # The console's command with /c, then PATH and varnoltctl found through it, from another
        # folder; the PATH before holds an "&", which cmd takes for "and then" unless quoted.
        target, arguments, _ = shortcut(console)
        self.assertTrue(target.lower().endswith(r"\cmd.exe"), target)
        self.assertTrue(arguments.startswith("/k "), arguments)
        batch = os.path.join(Wine.work, "console.cmd")
        with open(batch, "w", newline="\r\n") as commands:
            commands.write(f'@"{target}" /c {arguments[3:]} ^& path ^& varnoltctl --version\n')
        said = Wine.run("cmd", "/c", "Z:" + batch.replace("/", "\\"), WINEPATH=r"C:\A&B")
        lines = said.stdout.splitlines()
        self.assertEqual(len(lines), 2, said.stdout + said.stderr)
        self.assertEqual(lines[0].removeprefix("PATH=").split(";")[0].rstrip("\\"), self.folder)
        self.assertEqual(lines[1], f"varnoltctl {VERSION}")

    def test_3_a_higher_version_replaces_it(self):
        files = os.path.join(Wine.work, f"files-{self.arch}")
        with zipfile.ZipFile(zip_path(self.arch)) as archive:
            archive.extractall(files)
        run(["bash", os.path.join(ROOT, "packaging/windows/make-msi.sh"), self.arch,
             self.next_version, files, self.icon, self.next_msi], check=True)
        self.assertEqual(Wine.msiexec("/i", self.next_msi), 0)
        self.assertEqual(self.installed_versions(), [self.next_version])
        self.assertEqual(self.installed_files(), ZIP_FILES)

    def test_4_an_older_version_does_not_install_over_it(self):
        self.assertNotEqual(Wine.msiexec("/i", installer_path(self.arch)), 0)
        self.assertEqual(self.installed_versions(), [self.next_version])

    def test_5_uninstall_leaves_nothing_behind(self):
        self.assertEqual(Wine.msiexec("/x", self.next_msi), 0)
        self.assertEqual(self.installed_versions(), [])
        left = [os.path.join(folder, name)
                for folder, folders, names in os.walk(os.path.join(Wine.prefix, "drive_c"))
                for name in folders + names if "varnolt" in name.lower()]
        self.assertEqual(left, [])
        for key in (r"HKLM\Software\VARNOLT", r"HKLM\Software\Wow6432Node\VARNOLT"):
            self.assertNotEqual(Wine.run("reg", "query", key).returncode, 0, key)


class WineInstallerX64Test(WineInstaller, unittest.TestCase):
    arch = "x64"


# Skipped test by test, so that the count of what did not run is true.
@unittest.skipUnless(HOST_RUNS_I386, "this host runs no 32-bit programs")
class WineInstallerX86Test(WineInstaller, unittest.TestCase):
    arch = "x86"


def tearDownModule():
    if Wine.work is not None:
        Wine.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
