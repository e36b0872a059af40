#!/usr/bin/env python3
"""Rows of the yes/no check from the records QuestionAnsweringBench writes with TC_BENCH_QA_GATE set
(question-answering-gate.json, or the file named as the argument).

Thresholds come from the 80 questions and the trip meeting only: the middle and the lower edge of the range where
their hits are highest while each keeps 80 % of its refusals. The held-out sets are printed as totals only."""
import json
import pathlib
import sys

RESULTS = pathlib.Path(__file__).resolve().parent.parent / "results"
records = json.loads((RESULTS / (sys.argv[1] if len(sys.argv) > 1 else "question-answering-gate.json")).read_text())[
    "records"]
SETS = [("80", "80 questions"), ("trip", "trip (development)"), ("garden", "gardening talk (held out)"),
        ("clinic", "clinic (held out)"), ("heldout2", "school meeting and incident review (held out)")]


def cited(r, use, t):
    if not r["refused"]:
        return r["quotes"]
    if "best" not in r or use == "shipped":
        return []
    if use == "picked":
        return r.get("model", [])
    if use == "checked pick":
        return r["model"] if r.get("model") and r["yesModel"] >= t else []
    return (r["ranking"] or [r["best"]]) if r["yesBest"] >= t else []  # checked best line


def totals(rs, use, t):
    hits = answerable = refusals = unanswerable = lines = right = 0
    for r in rs:
        got, wanted = cited(r, use, t), set(r["expected"])
        if wanted:
            answerable += 1
            hits += bool(got) and got[0] in wanted
        else:
            unanswerable += 1
            refusals += not got
        lines += len(got)
        right += sum(n in wanted for n in got)
    return hits, answerable, right, lines, refusals, unanswerable


def plateau(use):
    dev = [r for r in records if r["set"] in ("80", "trip") and "best" in r and r["refused"]]
    key = "yesModel" if use == "checked pick" else "yesBest"
    cuts = sorted({0.0, 1.0} | {r[key] for r in dev if key in r})
    candidates = [(a + b) / 2 for a, b in zip(cuts, cuts[1:])]
    scored = []
    for t in candidates:
        sets = [totals([r for r in records if r["set"] == s], use, t) for s in ("80", "trip")]
        if all(h[4] >= 0.8 * h[5] for h in sets):
            scored.append((sum(h[0] for h in sets), t))
    best = max(h for h, _ in scored)
    inside = [t for h, t in scored if h == best]
    low = max(c for c in cuts if c < min(inside))
    high = min(c for c in cuts if c > max(inside))
    return low, high


rows = [("quotes refuse, as shipped", "shipped", 0), ("the model picks from the 8 best lines, unchecked", "picked", 0)]
for use in ("checked pick", "checked best line"):
    low, high = plateau(use)
    name = "model's pick" if use == "checked pick" else "ranker's best line"
    rows.append((f"{name}, kept at P(はい) ≥ {(low + high) / 2:.2f} (middle of {low:.3f}–{high:.3f})", use,
                 (low + high) / 2))
    if use == "checked pick":
        rows.append((f"{name}, kept at P(はい) > {low:.2f} (the range's lower edge)", use, low + 1e-6))
out = ["| run (hit rate, citation precision, correct refusals) | " + " | ".join(n for _, n in SETS) + " |",
       "|---" * (len(SETS) + 1) + "|"]
for name, use, t in rows:
    cells = []
    for s, _ in SETS:
        h = totals([r for r in records if r["set"] == s], use, t)
        cells.append(f"{h[0]}/{h[1]}, {h[2]}/{h[3]}, {h[4]}/{h[5]}")
    out.append(f"| {name} | " + " | ".join(cells) + " |")
sys.stdout.write("\n".join(out) + "\n")
