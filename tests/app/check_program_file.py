#!/usr/bin/env python3
"""Checks a built Windows program from its file alone, with mingw-w64's binutils (so also where
32-bit programs cannot run): machine type, only Windows' own DLLs imported, ASLR and DEP, the
version block and the manifest's version, and whether it is stripped.

usage: check_program_file.py PROGRAM --machine i386|x86-64 [--version X.Y.Z]
       [--description TEXT] [--original NAME] [--stripped]
"""
import argparse
import re
import subprocess
import sys

TOOLS = {"i386": "i686-w64-mingw32", "x86-64": "x86_64-w64-mingw32"}
MITIGATIONS = {"i386": ["DYNAMIC_BASE", "NX_COMPAT"],
               "x86-64": ["HIGH_ENTROPY_VA", "DYNAMIC_BASE", "NX_COMPAT"]}
# Anything else (libstdc++-6.dll, libwinpthread-1.dll, ...) would have to be shipped beside it.
WINDOWS_DLLS = {"advapi32.dll", "bcrypt.dll", "comctl32.dll", "gdi32.dll", "iphlpapi.dll",
                "kernel32.dll", "msvcrt.dll", "setupapi.dll", "shell32.dll", "user32.dll",
                "ws2_32.dll", "version.dll"}


def run(command):
    result = subprocess.run(command, capture_output=True, text=True, errors="replace")
    return result.returncode, result.stdout + result.stderr


def check(args):
    problems = []
    tools = TOOLS[args.machine]
    status, headers = run([f"{tools}-objdump", "-p", args.program])
    found = re.search(r"file format (\S+)$", headers, re.M)
    if status != 0 or found is None or found.group(1) != "pei-" + args.machine:
        seen = found.group(1) if found else (headers.strip() or "no output").splitlines()[-1]
        return [f"not a {args.machine} program ({tools}-objdump: {seen})"]
    problems += check_mitigations(headers, args.machine)
    imports = sorted(set(re.findall(r"^\s*DLL Name: (\S+)$", headers, re.M)))
    if not imports:
        problems.append("no imports found")
    foreign = [name for name in imports if name.lower() not in WINDOWS_DLLS]
    if foreign:
        problems.append(f"imports DLLs that Windows does not have: {', '.join(foreign)}")
    if args.stripped:
        status, header = run([f"{tools}-objdump", "-f", args.program])
        if status != 0 or "HAS_SYMS" in header:
            problems.append("not stripped: it carries a symbol table")
    if args.version:
        problems += check_version_block(args, tools)
    return problems


def check_mitigations(headers, machine):
    found = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)\n((?:\t+\S+\n)*)", headers, re.M)
    if found is None:
        return ["no DllCharacteristics in the optional header"]
    flags = found.group(2).split()
    problems = [f"PE header lacks {flag}" for flag in MITIGATIONS[machine] if flag not in flags]
    # ASLR moves a program only if it keeps its base relocations.
    characteristics = re.search(r"^Characteristics 0x[0-9a-fA-F]+\n((?:\t.*\n)*)", headers, re.M)
    if characteristics and "relocations stripped" in characteristics.group(1):
        problems.append("base relocations stripped: ASLR cannot move it")
    return problems


def check_version_block(args, tools):
    status, text = run([f"{tools}-windres", "-i", args.program, "-O", "rc"])
    block = re.search(r"^\d+ VERSIONINFO$(.*?)^END$", text, re.M | re.S)
    if status != 0 or block is None:
        return ["no version block"]
    numbers = [int(part) for part in args.version.split(".")] + [0]
    dotted, comma = ".".join(map(str, numbers)), ", ".join(map(str, numbers))
    got = dict(re.findall(r"^ (FILEVERSION|PRODUCTVERSION) (.*)$", block.group(1), re.M))
    got.update(re.findall(r'^\s*VALUE "(\w+)", "(.*)"$', block.group(1), re.M))
    # The manifest, as windres prints it: quoted lines with doubled quotes.
    manifest = "".join(re.findall(r'^\s*"(.*)"\s*$', text.split("RT_MANIFEST", 1)[-1], re.M))
    identity = re.search(r'<assemblyIdentity [^>]*version=""([\d.]+)""', manifest)
    got["manifest version"] = identity.group(1) if identity else None
    expected = {"FILEVERSION": comma, "PRODUCTVERSION": comma, "FileVersion": dotted,
                "ProductVersion": dotted, "FileDescription": args.description,
                "OriginalFilename": args.original, "manifest version": dotted}
    return [f"version block: {key} is {got.get(key)!r}, not {value!r}"
            for key, value in expected.items() if value is not None and got.get(key) != value]


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("program")
    parser.add_argument("--machine", required=True, choices=sorted(TOOLS))
    parser.add_argument("--version", help="X.Y.Z: the version block must say X.Y.Z.0")
    parser.add_argument("--description", help="the version block's FileDescription")
    parser.add_argument("--original", help="the version block's OriginalFilename")
    parser.add_argument("--stripped", action="store_true", help="it must carry no symbol table")
    args = parser.parse_args()
    problems = check(args)
    print("\n".join("FAIL: " + problem for problem in problems) or f"{args.program}: OK")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
