"""Makes the demo content in a new folder.

    /usr/bin/python3 demo/make_demo_content.py --bin build/bin --out DIR
        [--agent-file FILE ...] [--installer FILE]

--agent-file names a file of the agent (TavrelUpdate1.exe, KES01.DLL, ...):
each goes into the agent folder and, as the newer agent version, onto the
server. --installer puts TAVRELUPDATE.EXE into the agent folder only.
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_content  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="folder of xbtool and tavrelpkg")
    parser.add_argument("--out", required=True, help="folder to make; must not exist")
    parser.add_argument("--agent-file", action="append", default=[])
    parser.add_argument("--installer")
    options = parser.parse_args()
    started = time.monotonic()
    try:
        demo_content.make_content(options.bin, options.out, options.agent_file, options.installer)
    except (RuntimeError, OSError) as error:
        print("make_demo_content: %s" % error, file=sys.stderr)
        return 1
    print("demo content in %s (%.1f s)" % (options.out, time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
