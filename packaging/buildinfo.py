#!/usr/bin/env python3
"""Writes the buildinfo file of a release: the release files' checksums and the Debian versions of
every installed package that went into them, in the manner of a Debian .buildinfo:

    buildinfo.py --version X.Y.Z --epoch SECONDS --packages LIST FILE... > varnolt-X.Y.Z.buildinfo

LIST names the packages, one a line (packaging/buildinfo-packages); each is written with every
installed package that it depends on, directly or not (Depends and Pre-Depends; of alternatives,
those installed; a virtual package, through what provides it). No date, path, user or host goes in,
so that a rebuild of the same sources on the same packages gives the same file.
"""
import argparse
import hashlib
import os
import re
import subprocess
import sys

FIELDS = ["binary:Package", "Package", "Architecture", "Version", "Depends", "Pre-Depends",
          "Provides", "db:Status-Abbrev"]


def installed_packages():
    """(name, architecture) -> (version, [alternatives of each dependency]), and what provides
    each virtual name."""
    listing = subprocess.run(["dpkg-query", "-W", "-f", "\t".join(f"${{{f}}}" for f in FIELDS)
                              + "\n"], capture_output=True, text=True, check=True).stdout
    packages, providers = {}, {}
    for line in listing.splitlines():
        _, name, arch, version, depends, pre_depends, provides, status = line.split("\t")
        if status.strip() != "ii":
            continue
        relations = [part for field in (pre_depends, depends) for part in field.split(",")
                     if part.strip()]
        alternatives = [[alternative.split()[0] for alternative in relation.split("|")]
                        for relation in relations]
        packages[name, arch] = (version, alternatives)
        for provided in provides.split(","):
            if provided.strip():
                providers.setdefault(provided.split()[0], []).append((name, arch))
    return packages, providers


def resolve(word, from_arch, packages, providers, native):
    """The installed packages that a dependency on WORD (NAME or NAME:ARCH or NAME:any) means."""
    name, _, qualifier = word.partition(":")
    wanted = [qualifier] if qualifier and qualifier != "any" else [from_arch, "all", native]
    if qualifier == "any":
        wanted = sorted({arch for (n, arch) in packages if n == name})
    found = [(name, arch) for arch in dict.fromkeys(wanted) if (name, arch) in packages][:1]
    if not found:
        found = [provider for provider in providers.get(name, [])
                 if provider[1] in (from_arch, "all") or qualifier][:1]
    return found


def closure(seeds, packages, providers, native):
    done, todo, missing = set(), [], []
    for seed in seeds:
        found = resolve(seed, native, packages, providers, native)
        if not found:
            missing.append(seed)
        todo += found
    while todo:
        package = todo.pop()
        if package in done:
            continue
        done.add(package)
        for alternatives in packages[package][1]:
            for word in alternatives:
                todo += resolve(word, package[1], packages, providers, native)
    return done, missing


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", required=True)
    parser.add_argument("--packages", required=True)
    parser.add_argument("--source", action="append", default=[],
                        help="NAME=VERSION of a Debian source package whose files went in")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    with open(args.packages) as listing:
        seeds = [line.split("#")[0].strip() for line in listing]
    seeds = [seed for seed in seeds if seed]
    native = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                            check=True).stdout.strip()
    packages, providers = installed_packages()
    found, missing = closure(seeds, packages, providers, native)
    if missing:
        sys.exit(f"buildinfo: not installed: {', '.join(missing)}")
    files = sorted(args.files, key=os.path.basename)
    architectures = sorted({re.sub(r".*_(\w+)\.deb$", r"\1", f) for f in files
                            if f.endswith(".deb")})
    lines = ["Format: 1.0", "Source: varnolt", "Binary: varnoltctl",
             f"Architecture: {' '.join(architectures)} windows-x86 windows-x64",
             f"Version: {args.version}", "Checksums-Sha256:"]
    for name in files:
        with open(name, "rb") as release_file:
            data = release_file.read()
        lines.append(f" {hashlib.sha256(data).hexdigest()} {len(data)} {os.path.basename(name)}")
    with open("/etc/os-release") as os_release:
        system = dict(re.findall(r'^(\w+)="?([^"\n]*)"?$', os_release.read(), re.M))
    lines += [f"Build-Origin: {system.get('NAME', 'Debian')}",
              f"Build-Distribution: {system.get('VERSION_CODENAME', '')}",
              f"Build-Architecture: {native}",
              "Environment:", f' SOURCE_DATE_EPOCH="{args.epoch}"',
              ' DEB_BUILD_MAINT_OPTIONS="hardening=+all"',
              "Installed-Build-Depends:"]
    if args.source:
        # Files taken from Debian source packages rather than installed ones (cpp-httplib's header).
        lines[-1:-1] = ["Source-Packages:"] + [
            f" {name} (= {version})" for name, version in
            sorted(source.split("=", 1) for source in args.source)]
    ordered = sorted(found)
    for index, (name, arch) in enumerate(ordered):
        qualified = name if arch in (native, "all") else f"{name}:{arch}"
        comma = "," if index < len(ordered) - 1 else ""
        lines.append(f" {qualified} (= {packages[name, arch][0]}){comma}")
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
