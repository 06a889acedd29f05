"""The test scripts' result: every subtest, and every test without subtests, counts as one
case, for the closing "N passed, N failed" line."""

import unittest


class CountingResult(unittest.TextTestResult):
    """Counts every subtest, and every test without subtests, as one case."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0
        self.failed = 0
        self.with_subtests = set()

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        self.with_subtests.add(test.id())
        if err is None:
            self.passed += 1
        else:
            self.failed += 1

    def addSuccess(self, test):
        super().addSuccess(test)
        if test.id() not in self.with_subtests:
            self.passed += 1

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self.failed += 1

    def addError(self, test, err):
        super().addError(test, err)
        self.failed += 1

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self.failed += 1


def run_suite(rest, runtime_prefix, use_runtime_dir):
    """Runs the suite's tests (unittest arguments in rest) with a private XDG runtime folder
    handed to use_runtime_dir, prints the closing line and returns the exit status."""
    import os
    import sys
    import tempfile
    with tempfile.TemporaryDirectory(prefix=runtime_prefix) as runtime:
        os.chmod(runtime, 0o700)
        use_runtime_dir(runtime)
        runner = unittest.TextTestRunner(resultclass=CountingResult, verbosity=2)
        result = unittest.main(argv=[sys.argv[0]] + rest, testRunner=runner, exit=False).result
    print("%d passed, %d failed" % (result.passed, result.failed), flush=True)
    return 0 if result.wasSuccessful() and result.testsRun > 0 else 1
