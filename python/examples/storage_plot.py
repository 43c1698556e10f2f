"""A storage run of both heads, plotted to a PNG file.

    python storage_plot.py [--count N] [--output storage.png]
"""

from __future__ import annotations

import argparse
import sys

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import trax  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=1000, help="values to store per head, 1..65536 (default 1000)")
    parser.add_argument("--output", default="storage.png", help="PNG file to write (default storage.png)")
    args = parser.parse_args()

    ctl = trax.Controller()
    try:
        ctl.storage_setup(count=args.count)
        ctl.storage_start()
        # A real controller takes count samples at its sampling cycle: wait for them.
        ctl.storage_wait(args.count, timeout=60)
        ctl.storage_stop()
        runs = {head: ctl.storage_read(head, with_status=True) for head in (trax.A, trax.B)}
    except (trax.TraxError, TimeoutError) as error:
        print(f"storage_plot: {error}", file=sys.stderr)
        return 1

    figure, axes = plt.subplots(2, 1, sharex=True, figsize=(8, 5))
    for axis, (head, (values, statuses)) in zip(axes, runs.items()):
        valid = statuses == trax.Status.VALID
        axis.plot(np.flatnonzero(valid), values[valid], linewidth=0.8)
        axis.set_ylabel(f"head {head.name}")
        axis.set_title(f"head {head.name}: {len(values)} values, {np.count_nonzero(~valid)} not valid", fontsize=9)
    axes[-1].set_xlabel("sample")
    figure.tight_layout()
    figure.savefig(args.output, format="png")
    print(f"{args.output}: {', '.join(f'{len(v)} values of head {h.name}' for h, (v, _) in runs.items())}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
