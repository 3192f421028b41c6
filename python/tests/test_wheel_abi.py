"""The wheel check's verdicts (wheel_abi.py): version order, tags, and what
an extension file may ask of the system it loads on, on made-up linkages
and on a real extension module of the running interpreter."""

import sysconfig
from pathlib import Path

import pytest

import wheel_abi

pytest.importorskip("elftools", reason="pyelftools (auditwheel's) reads the ELF files")

FLOOR = (2, 28)


@pytest.mark.parametrize("lower, higher", [
    ("2.3.2", "2.17"), ("2.17", "2.28"), ("2.2.5", "2.3"), ("2.28", "2.28.1"), ("2.9", "2.10"),
])
def test_versions_order_by_number(lower, higher):
    assert wheel_abi.version(lower) < wheel_abi.version(higher)


@pytest.mark.parametrize("tag, glibc", [
    ("manylinux_2_26_x86_64", (2, 26)),
    ("manylinux_2_28_i686", (2, 28)),
    ("manylinux_2_5_x86_64", (2, 5)),
    ("manylinux2014_x86_64", (2, 17)),
    ("manylinux2010_i686", (2, 12)),
    ("manylinux1_x86_64", (2, 5)),
    ("linux_x86_64", None),
    ("musllinux_1_2_x86_64", None),
])
def test_tag_glibc(tag, glibc):
    assert wheel_abi.tag_glibc(tag) == glibc


def test_wheel_tags_split_compound_tags():
    name = "quillstone-0.1.0-cp314-cp314-manylinux_2_17_x86_64.manylinux2014_x86_64.whl"
    assert wheel_abi.wheel_tags(name) == ["manylinux_2_17_x86_64", "manylinux2014_x86_64"]


@pytest.mark.parametrize("tags, shown, problems", [
    (["manylinux_2_26_x86_64"], "manylinux_2_26_x86_64", 0),
    (["manylinux_2_28_x86_64"], "manylinux_2_28_x86_64", 0),
    (["manylinux_2_17_x86_64", "manylinux2014_x86_64"], "manylinux_2_17_x86_64", 0),
    (["manylinux_2_39_x86_64"], "manylinux_2_39_x86_64", 1),
    (["linux_x86_64"], None, 2),
    (["manylinux_2_26_x86_64"], "manylinux_2_17_x86_64", 1),
    (["manylinux_2_26_x86_64"], None, 1),
])
def test_tag_problems(tags, shown, problems):
    assert len(wheel_abi.tag_problems(tags, shown, FLOOR)) == problems


LIBC = ["libc.so.6", "libm.so.6", "libpthread.so.0"]


@pytest.mark.parametrize("needed, versions, unversioned, found", [
    # What the wheels have: old glibc versions, Python's own symbols unversioned.
    (LIBC, ["GLIBC_2.2.5", "GLIBC_2.14", "GLIBC_2.26"], ["PyLong_FromSize_t", "_Py_NoneStruct"], []),
    (LIBC, ["GLIBC_2.28"], [], []),
    (LIBC, ["GLIBC_2.2.5", "GLIBC_2.29"], [], ["needs GLIBC_2.29, above 2.28"]),
    (LIBC, ["GLIBC_2.3.4", "GLIBC_2.38"], [], ["needs GLIBC_2.38, above 2.28"]),
    # A shared C++ runtime, by version or by file.
    (LIBC, ["GLIBCXX_3.4.21", "CXXABI_1.3"], [],
     ["needs CXXABI_1.3 of a shared C++ runtime", "needs GLIBCXX_3.4.21 of a shared C++ runtime"]),
    (LIBC, ["GCC_3.0"], [], ["needs GCC_3.0 of a shared C++ runtime"]),
    (LIBC + ["libstdc++.so.6", "libgcc_s.so.1"], [], [],
     ["links libstdc++.so.6", "links libgcc_s.so.1"]),
    (LIBC, ["GLIBC_PRIVATE"], [], ["needs glibc's private symbols"]),
    # What a newer glibc has and an older one lacks, left without a version.
    (LIBC, [], ["arc4random", "PyErr_Occurred", "_dl_find_object"],
     ["needs _dl_find_object with no version", "needs arc4random with no version"]),
])
def test_linkage_problems(needed, versions, unversioned, found):
    link = wheel_abi.Linkage(needed, versions, unversioned)
    assert sorted(wheel_abi.linkage_problems(link, FLOOR)) == sorted(found)


def extension_module() -> wheel_abi.Linkage:
    """An extension module of this interpreter's that calls the C library alone
    (a third library may well have no symbol versions)."""
    for path in sorted(Path(sysconfig.get_path("platstdlib"), "lib-dynload").glob("*.so")):
        link = wheel_abi.linkage(path.read_bytes())
        if link.needed and set(link.needed) <= {"libc.so.6", "libm.so.6", "libpthread.so.0"}:
            return link
    pytest.skip("this interpreter has no extension module that needs the C library alone")


def test_reads_a_real_extension_module():
    link = extension_module()
    # It calls the C library through versioned symbols and the interpreter
    # through unversioned ones, and nothing else is left open.
    assert any(v.startswith("GLIBC_2.") for v in link.versions)
    assert link.unversioned
    assert all(wheel_abi.PYTHON_SYMBOL.match(name) for name in link.unversioned), link.unversioned
    assert wheel_abi.highest_glibc(link).startswith("GLIBC_2.")
    assert not wheel_abi.linkage_problems(link, (99,))
    assert wheel_abi.linkage_problems(link, (2, 0))
