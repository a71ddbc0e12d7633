#!/usr/bin/env python3
"""Print the relative error of the closed forms next to their singularities.

Compares the installed module with the mpmath references of
tests/python/data (regenerate them with tools/gen_model_vectors.py):
  witt_mao_magnification   against |l - 1|, the lens near the source's limb;
  heyrovsky_magnification  against |r - l|, the ring passing near the lens.
Entries marked * were computed by the elementary limb formula or the
near-ring expansion rather than the closed form.

Usage: python3 tools/measure_near_singular_errors.py   (from the repository root)
"""

import json
from pathlib import Path

import corvanis

DATA = Path(__file__).resolve().parent.parent / "tests" / "python" / "data"


def relative_error(got, want):
    return abs(got - want) / abs(want)


def table(title, key_label, rows, column_of, offset_of, value_of, marked):
    columns = sorted({column_of(row) for row in rows})
    key = lambda row: (offset_of(row)[0], offset_of(row)[1] > 0)
    offsets = sorted({key(row) for row in rows}, key=lambda o: (o[0], not o[1]))
    cells = {(column_of(row), key(row)): row for row in rows}
    print(title)
    print(f"{key_label:>14}" + "".join(f"{c:>14}" for c in columns))
    for off in offsets:
        line = f"{('+' if off[1] else '-') + format(off[0], '.1e'):>14}"
        for c in columns:
            row = cells.get((c, off))
            if row is None:
                line += f"{'':>14}"
                continue
            err = relative_error(value_of(row), row[-1])
            line += f"{format(err, '.2e') + ('*' if marked(row) else ' '):>14}"
        print(line)
    print()


def main():
    uniform = json.loads((DATA / "witt_mao.json").read_text())["near_limb"]
    table("witt_mao_magnification: relative error vs l - 1 (columns: rho = rstar/re)",
          "l - 1", uniform,
          column_of=lambda row: row[1] / row[0],
          offset_of=lambda row: (float(f"{abs(row[2] - 1):.2g}"), row[2] - 1),
          value_of=lambda row: corvanis.witt_mao_magnification([row[2]], row[0], row[1])[0],
          marked=lambda row: abs(row[2] * (row[1] / row[0]) - row[1] / row[0]) < 1e-5)

    rings = json.loads((DATA / "heyrovsky.json").read_text())["near_ring"]
    table("heyrovsky_magnification: relative error vs r - l (columns: l, re/rstar)",
          "r - l", rings,
          column_of=lambda row: f"{row[2]}, {row[0] / row[1]:g}",
          offset_of=lambda row: (float(f"{abs(row[3] - row[2]):.2g}"), row[3] - row[2]),
          value_of=lambda row: corvanis.heyrovsky_magnification(*row[2:4], *row[0:2]),
          marked=lambda row: abs(row[3] - row[2]) < 1e-5)


if __name__ == "__main__":
    main()
