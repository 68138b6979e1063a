"""Runs the protocol tests against one engine binary.

usage: run_protocol_tests.py --engine PATH [--wrapper qemu-i386] [-k PATTERN]
                             [--peer-engine PATH]

--peer-engine names the engine of the other word size (run without a wrapper);
the tests that compare the two word sizes skip themselves without it.
"""

import argparse
import os
import sys
import unittest

here = os.path.dirname(os.path.abspath(__file__))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", required=True)
    parser.add_argument("--wrapper", default="")
    parser.add_argument("-k", dest="pattern", default=None)
    parser.add_argument("--peer-engine", default="")
    args = parser.parse_args()
    if args.peer_engine:
        os.environ["ZORVAN_PEER_ENGINE"] = os.path.abspath(args.peer_engine)
    os.environ["ZORVAN_ENGINE"] = os.path.abspath(args.engine)
    os.environ["ZORVAN_WRAPPER"] = args.wrapper
    if args.wrapper and "ZORVAN_SLOWDOWN" not in os.environ:
        os.environ["ZORVAN_SLOWDOWN"] = "4"
    sys.path.insert(0, here)
    loader = unittest.TestLoader()
    if args.pattern:
        loader.testNamePatterns = ["*%s*" % args.pattern]
    suite = loader.discover(here, pattern="test_*.py", top_level_dir=here)
    result = unittest.TextTestRunner(verbosity=1).run(suite)
    sys.exit(0 if result.wasSuccessful() and result.testsRun > 0 else 1)


if __name__ == "__main__":
    main()
