"""Both heads' measured values in a loop until Ctrl-C.

    python live_values.py [--interval SECONDS] [--count N]
"""

from __future__ import annotations

import argparse
import sys
import time

import trax


def show(value: trax.Value) -> str:
    if value.status is trax.Status.VALID:
        return f"{value.value:12.5f}"
    return f"{value.status.name:>12}"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--interval", type=float, default=0.2, help="seconds between reads (default 0.2)")
    parser.add_argument("--count", type=int, default=0, help="stop after N reads (default: until Ctrl-C)")
    args = parser.parse_args()

    ctl = trax.Controller()
    print(f"{'A':>12} {'B':>12}", flush=True)
    reads = 0
    try:
        while args.count == 0 or reads < args.count:
            a, b = ctl.values()
            print(f"{show(a)} {show(b)}", flush=True)
            reads += 1
            time.sleep(args.interval)
    except KeyboardInterrupt:
        pass
    except trax.TraxError as error:
        print(f"live_values: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
