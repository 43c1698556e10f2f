"""The header check must catch each way a binding can drift from trax.h."""

from __future__ import annotations

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import check_bindings  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
HEADER = (ROOT / "include" / "trax.h").read_text()
DOTNET = (ROOT / "bindings" / "dotnet" / "Trax.cs").read_text()
VBA = (ROOT / "bindings" / "vba" / "Trax.bas").read_text()


class DriftIsCaught(unittest.TestCase):
    def test_the_committed_bindings_agree(self) -> None:
        self.assertEqual(check_bindings.check(HEADER, DOTNET, VBA), [])

    # (file, text replaced, replacement, words the report must contain)
    CASES = [
        ("cs", "TRAX_SetOffset(int head, int offset)", "TRAX_SetOffset(int head)", "TRAX_SetOffset takes 1"),
        ("cs", "TRAX_GetOffset(int head, out int offset)", "TRAX_GetOffset(int head, int offset)",
         "argument 2 is int by value"),
        ("cs", "out FloatValue valueB", "out FigureData valueB", "argument 2 is FigureData"),
        ("cs", "[Out] byte[] profile", "byte[] profile", "not marked [Out]"),
        ("cs", "CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]\n"
               "        public static extern int TRAX_SetMode",
         "CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]\n"
         "        public static extern int TRAX_SetMode", "TRAX_SetMode: DllImport without"),
        ("cs", "TRAX_AbleCancel()", "TRAX_AbleCancelled()", "TRAX_AbleCancel is missing"),
        ("cs", "SizeConst = 7", "SizeConst = 6", "record FigureData"),
        ("bas", 'PtrSafe Function TRAX_SetMode Lib "Trax.dll" (ByVal', 'PtrSafe Function TRAX_SetMode Lib "Trax.dll" (ByRef',
         "(VBA7): TRAX_SetMode argument 1 is int by reference"),
        ("bas", "Public Declare Function TRAX_GetLight", "Public Declare PtrSafe Function TRAX_GetLight",
         "PtrSafe outside"),
        ("bas", "ByRef profile As Byte", "ByRef profile As Long", "argument 5 is int by reference"),
        ("bas", "    value As Single", "    value As Long", "record FloatValue"),
        ("bas", "integers(0 To 3) As Long", "integers(1 To 3) As Long", "record FigureData"),
    ]

    def test_each_drift_is_reported(self) -> None:
        for file, old, new, words in self.CASES:
            with self.subTest(old=old, new=new):
                dotnet, vba = DOTNET, VBA
                if file == "cs":
                    self.assertIn(old, dotnet)
                    dotnet = dotnet.replace(old, new, 1)
                else:
                    self.assertIn(old, vba)
                    vba = vba.replace(old, new, 1)
                problems = check_bindings.check(HEADER, dotnet, vba)
                self.assertTrue(any(words in p for p in problems), problems)

    def test_a_header_change_is_reported_until_the_bindings_follow(self) -> None:
        header = HEADER.replace("TRAX_SetPanelLock(int locked)", "TRAX_SetPanelLock(int head, int locked)")
        problems = check_bindings.check(header, DOTNET, VBA)
        self.assertEqual(len([p for p in problems if "TRAX_SetPanelLock takes 1" in p]), 3, problems)


if __name__ == "__main__":
    unittest.main()
