#!/usr/bin/python3
"""Manual check: a workbook exported from the real window, read back by LibreOffice.

Starts the program on its own Xvfb against the end-to-end test's local whois server, looks up
three addresses, ticks every row through the results table's "Check All", presses "Save Results
As Excel File", and converts the workbook the program wrote to CSV with LibreOffice
(soffice --headless --convert-to csv), printing it. Needs LibreOffice (Debian package
libreoffice-calc-nogui), which CI does not install; run by hand:

    /usr/bin/python3 tests/e2e/workbook_check.py --program build/src/app/quorvane
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_driver as d  # noqa: E402

ADDRESSES = ["example.com", "example.org", "192.0.2.1"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    args = parser.parse_args()
    if not shutil.which("soffice"):
        print("LibreOffice (soffice) is not installed: nothing to check")
        return 77
    work = tempfile.mkdtemp(prefix="quorvane-workbook-")
    run = d.Run(argparse.Namespace(program=args.program, work_dir=work, screenshots=None))
    try:
        run.server.start()
        run.start_xvfb()
        run.start_program()
        run.find_main_window()
        for i, address in enumerate(ADDRESSES):
            run.add_address(address, ADDRESSES[: i + 1])
        run.set_delay("0")
        done = run.look_up(["/site2/" + a for a in ADDRESSES])
        run.screen.key("Return")
        run.wait_dialog_gone(done, "the \"Done.\" message")
        # The context menu opens at the pointer; its first entry is "Check All".
        x, y = run.centre("ListView2")
        run.screen.click(x, y, button=3)
        time.sleep(1)
        run.screen.click(x + 30, y + 12)
        time.sleep(1)
        run.click_control("PushButton2")
        cache = os.path.join(run.temp, "cache")
        book = run.wait_for("the workbook", lambda: glob.glob(cache + "/**/*.xlsx",
                                                              recursive=True), 30)[0]
        time.sleep(1)
        out = os.path.join(work, "csv")
        subprocess.run(["soffice", "--headless", "--convert-to",
                        "csv:Text - txt - csv (StarCalc):9,34,76,1", "--outdir", out, book],
                       check=True, env=dict(os.environ, HOME=os.path.join(work, "lo")))
        for path in glob.glob(out + "/*.csv"):
            with open(path, encoding="utf-8") as f:
                print(f.read())
        return 0
    finally:
        run.cleanup()


if __name__ == "__main__":
    sys.exit(main())
