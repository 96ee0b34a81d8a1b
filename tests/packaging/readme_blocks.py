#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Turns the README's code blocks into a CMake project that builds them against an installed
ravixcore.

usage: readme_blocks.py README.md INCLUDE_DIR OUT_DIR

- A C++ block with a main() is a program; the first one is the minimal host "mydaemon"
  (written to OUT_DIR/main.cpp).
- Every other C++ block is a fragment: it becomes the body of a member function of a QObject
  that provides the names fragments use without declaring them (see CONTEXT below), so `this`
  is a QObject. Fragments are compiled, never run.
- The CMake block is the host's whole CMakeLists.txt (it builds mydaemon from main.cpp); the
  fragments and any further programs are added to it.
- The shell block that calls pkg-config is written to OUT_DIR/pkgconfig.sh.
Every generated C++ line refers back to its README line (#line), so a compiler error names
the README line to fix.
"""
import pathlib
import re
import sys

CONTEXT = """\
    QString iniPath = QStringLiteral("/nonexistent/mydaemon.ini");
    QString workDir = QStringLiteral("/nonexistent/work");
    QString qmDir, url, version, target;
    QByteArray data, frame, documentBytes;
    ravix::InitConfig cfg{iniPath, false};
    static void sendToServer(const QString &) {}
"""


def blocks(text):
    """Yields (language, first line number of the code, code) for each fenced block."""
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        m = re.match(r"^```(\w*)\s*$", lines[i])
        if not m:
            i += 1
            continue
        start = i + 1
        end = start
        while end < len(lines) and lines[end].rstrip() != "```":
            end += 1
        yield m.group(1), start + 1, "\n".join(lines[start:end])
        i = end + 1


def main():
    readme, include_dir, out = map(pathlib.Path, sys.argv[1:4])
    out.mkdir(parents=True, exist_ok=True)
    text = readme.read_text(encoding="utf-8")
    programs, fragments, cmake, shell = [], [], [], []
    for lang, line, code in blocks(text):
        if lang == "cpp":
            (programs if re.search(r"\bint main\s*\(", code) else fragments).append((line, code))
        elif lang == "cmake":
            cmake.append((line, code))
        elif lang == "sh" and "pkg-config" in code:
            shell.append(code)
    if not programs or len(cmake) != 1 or len(shell) != 1:
        sys.exit("README: expected a host program, one CMake block and one pkg-config block")

    def located(line, code):
        return '#line %d "%s"\n%s\n' % (line, readme.resolve(), code)

    (out / "main.cpp").write_text(located(*programs[0]), encoding="utf-8")
    extra = ""
    for n, (line, code) in enumerate(programs[1:], 1):
        (out / ("program%d.cpp" % n)).write_text(located(line, code), encoding="utf-8")
        extra += "add_executable(readme_program%d program%d.cpp)\n" % (n, n)
        extra += "target_link_libraries(readme_program%d PRIVATE ravixcore::ravixcore)\n" % n

    headers = sorted(p.relative_to(include_dir).as_posix()
                     for p in include_dir.glob("ravixcore/**/*.h"))
    src = ["// Generated from %s: the README's code fragments." % readme.name]
    src += ["#include <%s>" % h for h in headers]
    src += ["#include <QCoreApplication>", "#include <QDebug>", "#include <QSqlQuery>", "",
            "class ReadmeContext : public QObject", "{", "public:", CONTEXT]
    src += ["    void fragment%d();" % n for n in range(len(fragments))]
    src += ["};", ""]
    for n, (line, code) in enumerate(fragments):
        src.append("void ReadmeContext::fragment%d()\n{" % n)
        src.append(located(line, code) + "}\n")
    (out / "fragments.cpp").write_text("\n".join(src), encoding="utf-8")

    (out / "CMakeLists.txt").write_text(
        "# README.md line %d\n%s\n" % cmake[0] +
        "add_library(readme_fragments OBJECT fragments.cpp)\n"
        "target_link_libraries(readme_fragments PRIVATE ravixcore::ravixcore)\n" + extra,
        encoding="utf-8")
    (out / "pkgconfig.sh").write_text("set -e\n" + shell[0] + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
