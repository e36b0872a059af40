"""The check both install tests make on an installed program's transcript of the bundled sample."""

import re
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def character_error_rate(reference, hypothesis):
    reference = re.sub(r"\s", "", reference)
    hypothesis = re.sub(r"\s", "", hypothesis)
    previous = list(range(len(hypothesis) + 1))
    for i, r in enumerate(reference, 1):
        current = [i]
        for j, h in enumerate(hypothesis, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (r != h)))
        previous = current
    return previous[-1] / max(len(reference), 1)


def assert_reads_like_sample(test, output):
    """Asserts, on the unittest case, that --transcribe's output for samples/ja-sample.flac reads like its text."""
    reference = (ROOT / "samples" / "ja-sample.txt").read_text(encoding="utf-8")
    # Each line starts with the time it was heard.
    heard = re.sub(r"^\d\d:\d\d:\d\d\s+", "", output, flags=re.M)
    test.assertGreaterEqual(len(heard.splitlines()), 6, output)
    test.assertLess(character_error_rate(reference, heard), 0.3, output)
