"""One check, driven like a person would, for `make run` on a machine without a display: type the account
into both boxes, press the check button, read the reply box, take a screenshot, close the program."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
import harness  # noqa: E402

account, screenshot = sys.argv[1], sys.argv[2]
program = harness.Program("-DebugWindow")
try:
    program.fill(account, account)
    program.press_check()
    reply = harness.box_text(60)
    box = harness.box_rect()
    (program.shot(box) if box else program.shot()).save(screenshot)
    if reply is None:
        print("run: no reply was shown (is the report service reachable?)")
    harness.close_box()
    program.click(harness.CLOSE_AT[0] + 10, harness.CLOSE_AT[1] + 10)
    program.wait_exit(10)
    sys.stdout.write(program.output().decode("gbk", "replace").replace("\r", ""))
    if reply is not None:
        print(f"run: the reply shown to the player: {reply}")
    print(f"run: screenshot saved to {screenshot}")
finally:
    program.kill()
