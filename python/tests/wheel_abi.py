"""The check `make wheel-check` runs on each wheel before installing it: the
platform tag in the wheel's name and the one `auditwheel show` finds are
manylinux tags no higher than the floor (--glibc), and every extension file
in the wheel needs no glibc symbol version above it, no versioned symbol of
the C++ runtime (which is linked in), no shared C++ runtime, and no symbol
that no version pins down but the interpreter's own: a plain one would be
resolved from whatever the system has, or from nothing on an older one.

    python wheel_abi.py --glibc 2.28 WHEEL...
"""

from __future__ import annotations

import argparse
import io
import re
import subprocess
import sys
import zipfile
from dataclasses import dataclass
from pathlib import Path

# The manylinux tags named before PEP 600, by the glibc they stand for.
LEGACY_TAGS = {"manylinux1": (2, 5), "manylinux2010": (2, 12), "manylinux2014": (2, 17)}
# Version prefixes of the C++ runtime (libstdc++ and libgcc_s), and its files.
RUNTIME_VERSIONS = ("GLIBCXX_", "CXXABI_", "GCC_")
RUNTIME_LIBRARIES = ("libstdc++.so", "libgcc_s.so")
# Symbols the interpreter itself provides when it loads the module.
PYTHON_SYMBOL = re.compile(r"_?Py")


def version(text: str) -> tuple[int, ...]:
    """"2.3.2" as (2, 3, 2), so that 2.3.2 < 2.17 < 2.28."""
    return tuple(int(part) for part in text.split("."))


def shown(numbers: tuple[int, ...]) -> str:
    return ".".join(map(str, numbers))


def tag_glibc(tag: str) -> tuple[int, ...] | None:
    """The glibc version a manylinux platform tag requires; None for any other tag."""
    match = re.fullmatch(r"manylinux_(\d+)_(\d+)_\w+", tag)
    if match:
        return int(match[1]), int(match[2])
    return LEGACY_TAGS.get(tag.split("_", 1)[0])


def wheel_tags(name: str) -> list[str]:
    """The platform tags of a wheel file name (the last field, dot-separated)."""
    return name.removesuffix(".whl").split("-")[-1].split(".")


@dataclass
class Linkage:
    needed: list[str]        # DT_NEEDED libraries
    versions: list[str]      # symbol versions required of them
    unversioned: list[str]   # strong undefined dynamic symbols with no version


def linkage(data: bytes) -> Linkage:
    """What an ELF shared object asks of the system it loads on."""
    from elftools.elf.dynamic import DynamicSection
    from elftools.elf.elffile import ELFFile
    from elftools.elf.gnuversions import GNUVerNeedSection, GNUVerSymSection

    elf = ELFFile(io.BytesIO(data))
    needed, versions, unversioned = [], [], []
    versym = None
    for section in elf.iter_sections():
        if isinstance(section, DynamicSection):
            needed += [tag.needed for tag in section.iter_tags() if tag.entry.d_tag == "DT_NEEDED"]
        elif isinstance(section, GNUVerNeedSection):
            for _, auxiliaries in section.iter_versions():
                versions += [aux.name for aux in auxiliaries]
        elif isinstance(section, GNUVerSymSection):
            versym = section
    dynsym = elf.get_section_by_name(".dynsym")
    for index, symbol in enumerate(dynsym.iter_symbols() if dynsym else ()):
        if (symbol.entry.st_shndx != "SHN_UNDEF" or not symbol.name
                or symbol.entry.st_info.bind != "STB_GLOBAL"):
            continue  # defined here, the null entry, or weak (may stay unresolved)
        ndx = versym.get_symbol(index).entry.ndx if versym is not None else "VER_NDX_GLOBAL"
        if ndx in ("VER_NDX_LOCAL", "VER_NDX_GLOBAL", 0, 1):
            unversioned.append(symbol.name)
    return Linkage(needed, versions, unversioned)


def linkage_problems(link: Linkage, floor: tuple[int, ...]) -> list[str]:
    problems = []
    for name in sorted(set(link.versions)):
        if name.startswith("GLIBC_") and not name.startswith("GLIBC_PRIVATE"):
            if version(name.removeprefix("GLIBC_")) > floor:
                problems.append(f"needs {name}, above {shown(floor)}")
        elif name.startswith(RUNTIME_VERSIONS):
            problems.append(f"needs {name} of a shared C++ runtime")
        elif name == "GLIBC_PRIVATE":
            problems.append("needs glibc's private symbols")
    problems += [f"links {lib}" for lib in link.needed if lib.startswith(RUNTIME_LIBRARIES)]
    problems += [f"needs {name} with no version" for name in sorted(link.unversioned)
                 if not PYTHON_SYMBOL.match(name)]
    return problems


def tag_problems(name_tags: list[str], auditwheel_tag: str | None,
                 floor: tuple[int, ...]) -> list[str]:
    problems = []
    for tag in name_tags:
        needs = tag_glibc(tag)
        if needs is None:
            problems.append(f"tag {tag} is not a manylinux tag")
        elif needs > floor:
            problems.append(f"tag {tag} asks for glibc {shown(needs)}, above {shown(floor)}")
    if auditwheel_tag is None:
        problems.append("auditwheel show names no platform tag")
    elif auditwheel_tag not in name_tags:
        problems.append(f"auditwheel show finds {auditwheel_tag}, not one of {', '.join(name_tags)}")
    return problems


def highest_glibc(link: Linkage) -> str:
    found = [version(v.removeprefix("GLIBC_")) for v in link.versions
             if v.startswith("GLIBC_") and v != "GLIBC_PRIVATE"]
    return "GLIBC_" + shown(max(found)) if found else "no GLIBC version"


def auditwheel_show(wheel: Path) -> str | None:
    """The platform tag that `auditwheel show` reports for a wheel."""
    run = subprocess.run([sys.executable, "-m", "auditwheel", "show", str(wheel)],
                         capture_output=True, text=True)
    match = re.search(r'platform\s+tag:\s*"([^"]+)"', " ".join(run.stdout.split()))
    return match[1] if match else None


def check(wheel: Path, floor: tuple[int, ...]) -> list[str]:
    tags = wheel_tags(wheel.name)
    problems = tag_problems(tags, auditwheel_show(wheel), floor)
    with zipfile.ZipFile(wheel) as archive:
        libraries = [n for n in archive.namelist() if re.search(r"\.so(\.|$)", n)]
        if not libraries:
            problems.append("holds no extension file")
        for name in libraries:
            link = linkage(archive.read(name))
            found = linkage_problems(link, floor)
            problems += [f"{name}: {p}" for p in found]
            print(f"{wheel.name}: {name}: {highest_glibc(link)} at most, "
                  f"{len(link.needed)} libraries ({', '.join(link.needed)})")
    print(f"{wheel.name}: tag {'.'.join(tags)}: "
          + ("ok" if not problems else f"{len(problems)} problems"))
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--glibc", required=True, help="the highest glibc version allowed, such as 2.28")
    parser.add_argument("wheels", nargs="+", type=Path)
    args = parser.parse_args()
    floor = version(args.glibc)
    failed = 0
    for wheel in args.wheels:
        problems = check(wheel, floor)
        for problem in problems:
            print(f"wheel-abi: {wheel.name}: {problem}", file=sys.stderr)
        failed += bool(problems)
    print(f"wheel-abi: {len(args.wheels) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
