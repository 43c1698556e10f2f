#!/usr/bin/python3
"""Checks every DllImport of bindings/dotnet/Trax.cs and every Declare of
bindings/vba/Trax.bas against include/trax.h: the same 69 names, and for each
argument its type and whether it goes by value or by reference. The records
are checked field by field.

It reads the three files on its own, with none of the generator's code, so a
fault in the generator shows here rather than being repeated.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path
from typing import Dict, List, Tuple

ROOT = Path(__file__).resolve().parent.parent

# (type, by reference) of an argument as C sees it.
Arg = Tuple[str, bool]


def header_functions(text: str) -> Dict[str, List[Arg]]:
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    functions: Dict[str, List[Arg]] = {}
    for name, args in re.findall(r"TRAX_API\s+int\s+TRAX_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", text):
        parsed = []
        for arg in [] if args.strip() == "void" else args.split(","):
            words = arg.replace("*", " * ").split()
            parsed.append((" ".join(w for w in words[:-1] if w != "*"), "*" in words))
        functions[name] = parsed
    return functions


def header_structs(text: str) -> Dict[str, List[Tuple[str, int]]]:
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    structs = {}
    for name, body in re.findall(r"typedef struct (\w+) \{(.*?)\} \1;", text, flags=re.S):
        fields = []
        for ctype, _, length in re.findall(r"(\w+)\s+(\w+)(?:\[(\d+)\])?\s*;", body):
            fields.append(({"int32_t": "int"}.get(ctype, ctype), int(length or 1)))
        structs[name] = fields
    return structs


CS_TYPES = {"int": "int", "byte": "unsigned char", "FloatValue": "FloatValue", "FigureData": "FigureData",
            "LightData": "LightData", "float": "float"}


def dotnet_functions(text: str) -> Tuple[Dict[str, List[Arg]], List[str]]:
    problems = []
    functions: Dict[str, List[Arg]] = {}
    for attribute, ret, name, args in re.findall(
        r"\[DllImport\(([^)]*)\)\]\s*public static extern (\w+) (\w+)\(([^)]*)\);", text
    ):
        if "CallingConvention.Winapi" not in attribute or "ExactSpelling = true" not in attribute:
            problems.append(f"Trax.cs: {name}: DllImport without CallingConvention.Winapi and ExactSpelling")
        if ret != "int":
            problems.append(f"Trax.cs: {name} returns {ret}, not int")
        parsed = []
        for arg in [a.strip() for a in args.split(",") if a.strip()]:
            m = re.fullmatch(r"(\[Out\] )?(out |ref )?(\w+)(\[\])? \w+", arg)
            if not m or m.group(3) not in CS_TYPES:
                problems.append(f"Trax.cs: {name}: argument not understood: {arg}")
                continue
            by_ref = bool(m.group(2) or m.group(4))
            if m.group(4) and not m.group(1):
                problems.append(f"Trax.cs: {name}: array {arg} not marked [Out]")
            parsed.append((CS_TYPES[m.group(3)], by_ref))
        functions[name] = parsed
    return functions, problems


def dotnet_structs(text: str) -> Dict[str, List[Tuple[str, int]]]:
    structs = {}
    for name, body in re.findall(r"\[StructLayout\(LayoutKind\.Sequential\)\]\s*public struct (\w+)\s*\{(.*?)\n    \}",
                                 text, flags=re.S):
        fields = []
        for size, ctype, array in re.findall(r"(?:SizeConst = (\d+)\)\]\s*)?public (\w+)(\[\])? \w+;", body):
            fields.append((CS_TYPES[ctype], int(size) if array else 1))
        structs[name] = fields
    return structs


VB_TYPES = {"Long": "int", "Byte": "unsigned char", "Single": "float", "FloatValue": "FloatValue",
            "FigureData": "FigureData", "LightData": "LightData"}


def vba_functions(text: str) -> Tuple[List[Dict[str, List[Arg]]], List[str]]:
    """The Declares of each branch of #If VBA7 (PtrSafe) / #Else."""
    problems = []
    m = re.search(r"^#If VBA7 Then\n(.*?)^#Else\n(.*?)^#End If", text, flags=re.S | re.M)
    if not m:
        return [], ["Trax.bas: no #If VBA7 Then ... #Else ... #End If"]
    branches = []
    for number, (block, ptrsafe) in enumerate(((m.group(1), True), (m.group(2), False))):
        functions: Dict[str, List[Arg]] = {}
        for line in block.splitlines():
            d = re.fullmatch(r'Public Declare (PtrSafe )?Function (\w+) Lib "Trax\.dll" \(([^)]*)\) As (\w+)', line)
            if not d:
                problems.append(f"Trax.bas: not a Declare: {line}")
                continue
            name = d.group(2)
            if bool(d.group(1)) != ptrsafe:
                problems.append(f"Trax.bas: {name}: PtrSafe {'missing in' if ptrsafe else 'outside'} the VBA7 branch")
            if d.group(4) != "Long":
                problems.append(f"Trax.bas: {name} returns {d.group(4)}, not Long")
            parsed = []
            for arg in [a.strip() for a in d.group(3).split(",") if a.strip()]:
                a = re.fullmatch(r"(ByVal|ByRef) \w+ As (\w+)", arg)
                if not a or a.group(2) not in VB_TYPES:
                    problems.append(f"Trax.bas: {name}: argument not understood: {arg}")
                    continue
                parsed.append((VB_TYPES[a.group(2)], a.group(1) == "ByRef"))
            functions[name] = parsed
        branches.append(functions)
    return branches, problems


def vba_structs(text: str) -> Dict[str, List[Tuple[str, int]]]:
    structs = {}
    for name, body in re.findall(r"^Public Type (\w+)\n(.*?)^End Type", text, flags=re.S | re.M):
        fields = []
        for _, low, high, vtype in re.findall(r"^\s+(\w+)(?:\((\d+) To (\d+)\))? As (\w+)", body, flags=re.M):
            fields.append((VB_TYPES[vtype], int(high) - int(low) + 1 if high else 1))
        structs[name] = fields
    return structs


def _describe(arg: Arg) -> str:
    return f"{arg[0]} {'by reference' if arg[1] else 'by value'}"


def compare(what: str, expected: Dict[str, List[Arg]], actual: Dict[str, List[Arg]]) -> List[str]:
    problems = []
    for name in sorted(set(expected) - set(actual)):
        problems.append(f"{what}: {name} is missing")
    for name in sorted(set(actual) - set(expected)):
        problems.append(f"{what}: {name} is not in trax.h")
    for name in sorted(set(expected) & set(actual)):
        want, got = expected[name], actual[name]
        if len(want) != len(got):
            problems.append(f"{what}: {name} takes {len(got)} argument(s), trax.h {len(want)}")
            continue
        for i, (w, g) in enumerate(zip(want, got), 1):
            if w != g:
                problems.append(f"{what}: {name} argument {i} is {_describe(g)}, trax.h says {_describe(w)}")
    return problems


def check(header: str, dotnet: str, vba: str) -> List[str]:
    expected = header_functions(header)
    problems = [] if len(expected) == 69 else [f"trax.h: {len(expected)} functions, not 69"]
    cs, cs_problems = dotnet_functions(dotnet)
    problems += cs_problems + compare("Trax.cs", expected, cs)
    branches, vb_problems = vba_functions(vba)
    problems += vb_problems
    for branch, functions in zip(("VBA7", "VB6/VBA6"), branches):
        problems += compare(f"Trax.bas ({branch})", expected, functions)
    structs = header_structs(header)
    for what, found in (("Trax.cs", dotnet_structs(dotnet)), ("Trax.bas", vba_structs(vba))):
        for name, fields in structs.items():
            if found.get(name) != fields:
                problems.append(f"{what}: record {name} is {found.get(name)}, trax.h {fields}")
    return problems


def main() -> int:
    problems = check(
        (ROOT / "include" / "trax.h").read_text(),
        (ROOT / "bindings" / "dotnet" / "Trax.cs").read_text(),
        (ROOT / "bindings" / "vba" / "Trax.bas").read_text(),
    )
    for problem in problems:
        print(f"check_bindings: {problem}", file=sys.stderr)
    if not problems:
        print("check_bindings: 69 functions and 3 records agree with trax.h in Trax.cs and both branches of Trax.bas")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
