"""The Windows build a measurement runs on, and its Wine (windows_build.sh, for the Python
measurements): choose(BUILD or None) prints the line naming them, sets WINEARCH, WINELOADER and
WINEPREFIX in os.environ and returns the build folder; it ends the program when they cannot run."""
import os
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def choose(build=None):
    script = (f"source '{ROOT}/tools/measure/windows_build.sh' && choose_windows_build \"$1\" >&2"
              ' && printf "%s\\n" "$WINDOWS_BUILD" "$WINEARCH" "$WINEPREFIX" "$WINELOADER"')
    result = subprocess.run(["bash", "-c", script, "choose", build or ""], stdout=subprocess.PIPE,
                            text=True, check=False)
    if result.returncode != 0:
        sys.exit(2)
    chosen, arch, prefix, loader = result.stdout.split("\n")[:4]
    os.environ.update(WINEARCH=arch, WINEPREFIX=prefix, WINELOADER=loader)
    return chosen
