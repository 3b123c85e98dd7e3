"""The README's demo, as a Russian user sees it: the program runs in a Wine
virtual desktop the size of the display (so Wine draws frames and title bars)
with the Russian locale (so the system's own buttons are Russian).

1. The demo-key build fetches a demo channel from a loopback site (signed by
   minisign with the demo key made for this demo) and downloads a harmless
   6 MiB "installer" with --no-run; dialog.png shows the dialog mid-download.
2. A short second run whose channel carries a signature of other bytes;
   failure.png shows the failure box, which the demo answers with No.

The prefix gets Wine's own fonts from Debian's fonts-wine in its Fonts folder
(Wine loads TrueType fonts from there, not from its data folder): Marlett,
whose glyphs Wine draws the caption buttons with (without it the close button
is the letter "r"), and Tahoma, the face of the system's dialog font. Not
Tahoma Bold: with it, Wine draws the dialog's heading in two weights, its
Cyrillic bold and its Latin regular.

Both pictures are cropped to the window plus a margin and recompressed by
zopflipng. Exits 0 only when both pictures and the expected texts were seen.

  demo.py --config build/windows/tests/e2e/e2e-config.json --out build/demo
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

from PIL import Image, ImageChops

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402

DESKTOP = "1280x800"  # the size of the Xvfb screen that Env starts
RUSSIAN = {"LANG": "ru_RU.UTF-8", "LC_ALL": "ru_RU.UTF-8"}
MARGIN = 12
WINE_FONTS = "/usr/share/wine/fonts"  # Debian's fonts-wine
PREFIX_FONTS = ("marlett.ttf", "tahoma.ttf")
V1 = "подпись установщика не сошлась, файл испорчен или подменен"


def wait_for_record(run, pattern, seconds=60):
    """The first line of the window watcher's live log that matches."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        with open(run.probe_log, encoding="utf-8") as file:
            for line in file:
                if re.match(pattern, line):
                    return line
        time.sleep(0.1)
    return None


def take_picture(env, path, then=None):
    """The screen cropped to what differs from the desktop's colour (the
    window) plus a margin, recompressed by zopflipng. THEN runs right after
    the screen is taken, before the slow part, while the window is still up."""
    raw = path + ".screen.png"
    subprocess.run(["import", "-window", "root", raw], env=env.environ(), timeout=30, check=False)
    if then:
        then()
    if not os.path.exists(raw):
        return False
    with Image.open(raw) as screen:
        screen = screen.convert("RGB")
        background = Image.new("RGB", screen.size, screen.getpixel((0, 0)))
        box = ImageChops.difference(screen, background).getbbox()
        if box is None:
            return False
        left, top, right, bottom = box
        screen.crop((max(left - MARGIN, 0), max(top - MARGIN, 0),
                     min(right + MARGIN, screen.width), min(bottom + MARGIN, screen.height))
                    ).save(raw)
    subprocess.run(["zopflipng", "-y", "-m", raw, path], stdout=subprocess.DEVNULL, timeout=120,
                   check=True)
    os.remove(raw)
    return True


def window_texts(run):
    """The window's controls as the probe reads them: (class, text) pairs."""
    _, out = run.probe("texts", "Kestrova AI")
    return [tuple(line.split("\t", 1)) for line in out.splitlines() if "\t" in line]


def buttons(texts):
    return [text.replace("&", "") for kind, text in texts if kind == "Button"]


def download_run(env, out, seen):
    run = e2e.Run(env, "demo")
    installer = e2e.pattern(6 * e2e.MIB)
    run.standard(installer, signature=run.b64(run.sign(installer, key="demo")),
                 rate=1024 * 1024, step=65536)
    picture = os.path.join(out, "dialog.png")

    def during():
        if wait_for_record(run, r"dialog\t\d+\tСкачиваю Kestrova AI\tСкачано [1-3] из 6 МБ\n"):
            seen["dialog"] = take_picture(
                env, picture, then=lambda: seen.update({"dialog texts": window_texts(run)}))

    print("demo: 1. the demo-key build with --no-run downloads a 6 MiB installer from the "
          "loopback site behind the system proxy")
    run.start(program="program_demo", args=["--no-run"], answer="none", during=during)
    shown = []
    for _, texts in run.dialog_states():
        if not shown or shown[-1] != texts[-1]:
            shown.append(texts[-1])
    print("demo:    the dialog showed: " + " | ".join(shown))
    texts = seen.get("dialog texts", [])
    print("demo:    its controls, read right after the picture: " + " | ".join(t for _, t in texts if t))
    left = os.path.join(run.temp, e2e.FILE_NAME)
    verified = os.path.exists(left) and open(left, "rb").read() == installer
    print("demo:    installer left at %s: %s" % (left, "the served file, verified" if verified
                                                  else "missing or NOT the served file"))
    print("demo:    exit code %s" % run.exit_code)
    wanted = {"Скачиваю Kestrova AI", "Отмена"}
    return (run.exit_code == 0 and verified and seen.get("dialog", False)
            and wanted <= {text.replace("&", "") for _, text in texts}
            and any(re.fullmatch(r"Скачано \d из 6 МБ", text) for _, text in texts))


def failure_run(env, out, seen):
    run = e2e.Run(env, "failure")
    installer = e2e.pattern(e2e.MIB)
    other = run.sign(e2e.pattern(e2e.MIB, seed=8), key="demo")
    run.standard(installer, signature=run.b64(other))
    picture = os.path.join(out, "failure.png")

    def during():
        if wait_for_record(run, r"box\t"):
            time.sleep(0.5)  # the box's first paint
            seen["failure"] = take_picture(
                env, picture, then=lambda: seen.update({"failure texts": window_texts(run)}))
        run.probe("press", "Kestrova AI", "no")

    print("demo: 2. a run whose channel carries a signature of other bytes")
    run.start(program="program_demo", answer="none", during=during)
    for text in run.boxes():
        print("demo:    the failure box said: " + text.replace("\n", " "))
    print("demo:    its buttons: " + " | ".join(buttons(seen.get("failure texts", []))))
    opened = os.path.exists(env.recorded()) and open(env.recorded()).read().strip()
    print("demo:    answered Нет; the product page %s" % ("was opened" if opened else
                                                         "was not opened"))
    print("demo:    exit code %s" % run.exit_code)
    sentence = "Не получилось установить Kestrova AI: %s." % V1
    return (run.exit_code == 1 and not opened and seen.get("failure", False)
            and len(run.boxes()) == 1 and run.boxes()[0].startswith(sentence)
            and buttons(seen["failure texts"]) == ["Да", "Нет"])


def install_wine_fonts(env):
    folder = os.path.join(env.prefix, "drive_c", "windows", "Fonts")
    os.makedirs(folder, exist_ok=True)
    for name in PREFIX_FONTS:
        font = os.path.join(WINE_FONTS, name)
        if not os.path.isfile(font):
            raise SystemExit("demo: %s is missing (scripts/bootstrap installs fonts-wine)" % font)
        shutil.copyfile(font, os.path.join(folder, name))


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
    for name in ("dialog.png", "failure.png"):
        if os.path.exists(os.path.join(out, name)):
            os.remove(os.path.join(out, name))
    config["env"] = os.path.join(out, "env")
    config["keys"] = config["demo_keys"]
    env = e2e.Env(config)
    env.extra_environ = RUSSIAN
    print("demo: Wine prefix (Russian locale, virtual desktop %s), display and test CA in %s"
          % (DESKTOP, config["env"]))
    env.up()
    try:
        install_wine_fonts(env)
        # Every later process of the prefix joins one virtual desktop.
        env.reg_add(r"HKCU\Software\Wine\Explorer", "Desktop", "REG_SZ", "Kestrova")
        env.reg_add(r"HKCU\Software\Wine\Explorer\Desktops", "Kestrova", "REG_SZ", DESKTOP)
        seen = {}
        results = [download_run(env, out, seen), failure_run(env, out, seen)]
    finally:
        env.down()
    for name, ok in zip(("dialog", "failure"), results):
        path = os.path.join(out, name + ".png")
        print("demo: %s: %s" % (path, "as expected" if ok else
                                "MISSING PICTURE OR TEXT" if not seen.get(name) else
                                "the run or its texts were not as expected"))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
