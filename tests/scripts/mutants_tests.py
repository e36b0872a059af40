#!/usr/bin/env python3
"""Checks where scripts/mutants plants its faults: in code, never in strings, comments or template brackets."""

import importlib.machinery
import importlib.util
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
_loader = importlib.machinery.SourceFileLoader("mutants", str(ROOT / "scripts" / "mutants"))
mutants = importlib.util.module_from_spec(importlib.util.spec_from_loader("mutants", _loader))
_loader.exec_module(mutants)


def planted(line):
    return sorted((m["operator"], m["mutated"]) for m in mutants.mutants_of("x.cpp", 1, line))


class MutantsTests(unittest.TestCase):
    def test_each_operator_changes_one_place_of_the_code(self):
        self.assertEqual(planted("    if (a < b && !done) return true;"), [
            ("&& to ||", "    if (a < b || !done) return true;"),
            ("< to <=", "    if (a <= b && !done) return true;"),
            ("drop !", "    if (a < b && done) return true;"),
            ("true to false", "    if (a < b && !done) return false;"),
        ])
        self.assertEqual(planted("        m_items.push_back(x + 1);"), [
            ("+ 1 to - 1", "        m_items.push_back(x - 1);"), ("drop call", "        ;")])

    def test_strings_comments_templates_and_directives_are_left_alone(self):
        self.assertEqual(planted('    const auto s = "a == b || !c"; // x < y && true'), [])
        self.assertEqual(planted("    std::vector<std::pair<int, bool>> out;"), [])
        self.assertEqual(planted("#if A && B"), [])
        # An escaped quote does not end the string: the "<" inside it stays.
        self.assertEqual(planted(r"""    q = c == '"' ? "\" < " : "";"""),
                         [("== to !=", r"""    q = c != '"' ? "\" < " : "";""")])
        self.assertEqual(planted("    return compute(a, b);"), [])


if __name__ == "__main__":
    unittest.main()
