#!/usr/bin/env python3
"""Fails when a header promises a function that no library defines.

Usage: check_declared_symbols.py <build dir>

Every header of ais/, net/, app/, zip/ and export/ is compiled once, in one
translation unit, by clang with its JSON AST dump. Every function, method,
constructor and destructor declared in one of those headers yields its
Itanium-mangled name as clang computes it (so overloads, const, namespaces
and ABI tags are told apart exactly). Left out: declarations with a body in
a header (inline), "= default", "= delete", pure virtuals, friend
declarations and anything inside a template (those are defined where they
are declared). Each remaining name must be a defined external symbol
(`nm --defined-only`) of one of the five static libraries built in the
given build directory; a library that is missing is a failure, never a
pass.

Why this is not fooled: the names compared are the linker's own names, not
text guessed from the headers, so a definition with a different signature,
constness or namespace does not count; a complete-object constructor or
destructor also counts when only its base-object variant is emitted, which
is how g++ may define it.

The dump of the standard headers is large, so it is read as a stream of
top-level declarations and only those that touch a project header are
parsed as JSON.
"""
import json
import os
import re
import subprocess
import sys

SUBSYSTEMS = ("ais", "net", "app", "zip", "export")
FUNCTION_KINDS = {"FunctionDecl", "CXXMethodDecl", "CXXConstructorDecl", "CXXDestructorDecl",
                  "CXXConversionDecl"}
TEMPLATE_KINDS = {"ClassTemplateDecl", "FunctionTemplateDecl", "ClassTemplatePartialSpecializationDecl",
                  "ClassTemplateSpecializationDecl", "TypeAliasTemplateDecl", "VarTemplateDecl"}
FILE_LINE = re.compile(r'^\s*"file": "(.*)",?$')


def project_headers(root):
    headers = []
    for sub in SUBSYSTEMS:
        folder = os.path.join(root, sub)
        if not os.path.isdir(folder):
            sys.exit(f"missing subsystem folder {folder}")
        headers += sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".h"))
    return headers


def top_level_chunks(stream):
    """Yields (lines of one top-level declaration) from clang's pretty JSON."""
    chunk = None
    for line in stream:
        if chunk is None:
            if line.startswith("    {"):
                chunk = [line]
            continue
        chunk.append(line)
        if line.rstrip() in ("    }", "    },"):
            yield chunk
            chunk = None


def file_lines(chunk):
    """The location file names in a chunk, in order, without includedFrom."""
    out = []
    in_included = False
    for line in chunk:
        stripped = line.strip()
        if stripped.startswith('"includedFrom"'):
            in_included = True
            continue
        m = FILE_LINE.match(line)
        if m:
            if not in_included:
                out.append(json.loads('"' + m.group(1) + '"'))
            in_included = False
    return out


class Walker:
    def __init__(self, headers):
        self.headers = {os.path.realpath(h) for h in headers}
        self.current = ""
        self.declared = {}   # mangled name -> (header, name, kind)
        self.defined_in_header = set()

    def is_project(self, path):
        return os.path.realpath(path) in self.headers if path else False

    def track(self, value):
        """Follows the file tracking of clang's emitter through a value."""
        if isinstance(value, dict):
            for key, sub in value.items():
                if key == "includedFrom":
                    continue
                if key == "file":
                    self.current = sub
                else:
                    self.track(sub)
        elif isinstance(value, list):
            for sub in value:
                self.track(sub)

    def node(self, n, in_template=False, in_friend=False):
        kind = n.get("kind", "")
        for key in ("loc", "range"):
            if key in n:
                self.track(n[key])
        here = self.current
        inner = n.get("inner", [])
        if kind in FUNCTION_KINDS and self.is_project(here) and not in_template and not in_friend:
            self.function(n, here, inner)
        child_template = in_template or kind in TEMPLATE_KINDS
        child_friend = in_friend or kind == "FriendDecl"
        for key, value in n.items():
            if key in ("loc", "range", "inner"):
                continue
            self.track(value)
        for child in inner:
            if isinstance(child, dict):
                self.node(child, child_template, child_friend)

    def function(self, n, header, inner):
        mangled = n.get("mangledName")
        if not mangled or n.get("isImplicit"):
            return
        has_body = any(isinstance(c, dict) and c.get("kind") == "CompoundStmt" for c in inner)
        if has_body or n.get("explicitlyDefaulted") or n.get("explicitlyDeleted") or n.get("pure"):
            self.defined_in_header.add(mangled)
            return
        self.declared.setdefault(mangled, (os.path.relpath(header), n.get("name", "?"), n.get("kind")))


def library_symbols(build):
    symbols = set()
    for sub in SUBSYSTEMS:
        lib = os.path.join(build, sub, f"lib{sub}.a")
        if not os.path.isfile(lib):
            sys.exit(f"missing library {lib}: build first")
        out = subprocess.run(["nm", "--defined-only", "-P", lib], check=True, capture_output=True,
                             text=True).stdout
        for line in out.splitlines():
            parts = line.split()
            if len(parts) >= 2 and parts[1] in ("T", "W", "V", "i", "D", "B", "R"):
                symbols.add(parts[0])
    return symbols


def variants(mangled, kind):
    """The names under which g++ may emit a constructor or destructor."""
    if kind == "CXXConstructorDecl":
        return [mangled, mangled.replace("C1E", "C2E", 1)]
    if kind == "CXXDestructorDecl":
        return [mangled, mangled.replace("D1E", "D2E", 1), mangled.replace("D1E", "D0E", 1)]
    return [mangled]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    headers = project_headers(root)
    tu = "".join(f'#include "{h}"\n' for h in headers)
    cxx = os.environ.get("CLANGXX", "clang++")
    cmd = [cxx, "-std=c++17", "-fsyntax-only", "-x", "c++", "-I", root, "-I", os.path.join(root, "zip"),
           "-Xclang", "-ast-dump=json", "-"]
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    proc.stdin.write(tu)
    proc.stdin.close()

    walker = Walker(headers)
    for chunk in top_level_chunks(proc.stdout):
        files = file_lines(chunk)
        if walker.is_project(walker.current) or any(walker.is_project(f) for f in files):
            walker.node(json.loads("".join(chunk).rstrip().rstrip(",")))
        elif files:
            walker.current = files[-1]
    if proc.wait() != 0:
        sys.exit("clang could not compile the headers")
    if not walker.declared and not walker.defined_in_header:
        sys.exit("no declarations found: the AST dump was not understood")

    symbols = library_symbols(build)
    missing = []
    for mangled, (header, name, kind) in sorted(walker.declared.items(), key=lambda kv: kv[1]):
        if mangled in walker.defined_in_header:
            continue
        if not any(v in symbols for v in variants(mangled, kind)):
            missing.append((header, name, mangled))
    if missing:
        demangled = subprocess.run(["c++filt"], input="\n".join(m for _, _, m in missing), capture_output=True,
                                   text=True).stdout.splitlines()
        for (header, _, _), text in zip(missing, demangled):
            print(f"{header}: declared but not defined: {text}")
        print(f"{len(missing)} declared functions have no definition in the libraries")
        return 1
    print(f"declared functions: all {len(walker.declared)} defined in the libraries")
    return 0


if __name__ == "__main__":
    sys.exit(main())
