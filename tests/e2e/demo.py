"""The README's demo: the demo-key build of the setup program fetches a demo
channel from a loopback site (signed by minisign with the demo key made for
this demo), downloads a harmless 6 MiB "installer" with --no-run, and a
screenshot of the dialog is taken in the middle of the download.

  demo.py --config build/windows/tests/e2e/e2e-config.json --out build/demo
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--out", required=True)
    options = parser.parse_args()
    signal.signal(signal.SIGALRM, lambda *_: os._exit(124))
    signal.alarm(300)
    with open(options.config) as file:
        config = json.load(file)
    out = os.path.abspath(options.out)
    os.makedirs(out, exist_ok=True)
    config["env"] = os.path.join(out, "env")
    config["keys"] = config["demo_keys"]
    env = e2e.Env(config)
    print("demo: Wine prefix, display and test CA in %s" % config["env"])
    env.up()
    try:
        run = e2e.Run(env, "demo")
        installer = e2e.pattern(6 * e2e.MIB)
        run.standard(installer, signature=run.b64(run.sign(installer, key="demo")),
                     rate=1024 * 1024, step=65536)
        screenshot = os.path.join(out, "dialog.png")
        if os.path.exists(screenshot):
            os.remove(screenshot)

        def take_screenshot():
            deadline = time.time() + 60
            while time.time() < deadline:
                if e2e.INSTALLER_PATH in run.requests():
                    break
                time.sleep(0.1)
            time.sleep(2.5)
            subprocess.run(["import", "-window", "root", screenshot], env=env.environ(),
                           timeout=30, check=False)

        print("demo: running the demo-key build with --no-run (channel and installer from the "
              "loopback site behind the system proxy)")
        run.start(program="program_demo", args=["--no-run"], answer="none", during=take_screenshot)
        texts = [state[1][-1] for state in run.dialog_states()]
        shown = []
        for text in texts:
            if not shown or shown[-1] != text:
                shown.append(text)
        print("demo: the dialog showed: " + " | ".join(shown))
        left = os.path.join(run.temp, e2e.FILE_NAME)
        if os.path.exists(left):
            same = open(left, "rb").read() == installer
            print("demo: verified installer left at %s (%s in Wine), %d bytes%s" % (
                left, e2e.windows_path(left), os.path.getsize(left),
                "" if same else " (NOT the served file)"))
        else:
            print("demo: no installer file was left in %s" % run.temp)
        if os.path.exists(screenshot):
            print("demo: screenshot of the dialog during the download: %s" % screenshot)
        print("demo: exit code of KestrovaAI-setup.exe: %s" % run.exit_code)
        return 0 if run.exit_code == 0 else 1
    finally:
        env.down()


if __name__ == "__main__":
    sys.exit(main())
