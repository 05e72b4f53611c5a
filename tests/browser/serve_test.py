#!/usr/bin/env python3
"""The live camera page of `vorkgrab serve`, driven in headless Chromium.

Starts the program on a free loopback port, opens its page, and checks what a
person sees and does there: the live picture moves (its frame counter rises),
the brightness slider changes the camera and the picture, and Snap saves a
file of the test pattern. It leaves a screenshot of the page.

usage: serve_test.py VORKGRAB SCREENSHOT.png
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

NO_PROXY = urllib.request.build_opener(urllib.request.ProxyHandler({}))
results = []


def check(name, condition, detail=""):
    results.append(bool(condition))
    print(("ok   " if condition else "FAIL ") + name + ("" if condition else ": " + str(detail)), flush=True)


def wait_for(predicate, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return predicate()


def state(base):
    return json.loads(NO_PROXY.open(base + "/api/state", timeout=10).read())


def read_ppm(path):
    data = open(path, "rb").read()
    parts = data.split(b"\n", 3)
    width, height = (int(v) for v in parts[1].split())
    return width, height, parts[3]


def main():
    vorkgrab, screenshot = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="vorkserve-")
    cameras = os.path.join(work, "cameras.ini")
    with open(cameras, "w") as f:
        f.write("[hd]\nFriendlyName=HD Camera\nDevicePath=hd\nFormats=1280x720 RGB24 30, 640x480 RGB24 30\n")
    server = subprocess.Popen([vorkgrab, "serve", "--listen", "127.0.0.1:0", "--cameras", cameras, "--out",
                               os.path.join(work, "snap_%02d.ppm")],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = server.stdout.readline()
    check("the server says where it listens", line.startswith("serving on http://127.0.0.1:"), line)
    base = line.split()[-1].rstrip("/")

    options = Options()
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--no-proxy-server",
                     "--window-size=1280,900"):
        options.add_argument(argument)
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        driver.get(base + "/")
        frames = lambda: int(driver.find_element(By.ID, "frames").text or 0)
        first = wait_for(lambda: frames() > 0 and frames())
        check("the page shows frames", first, driver.find_element(By.ID, "frames").text)
        later = wait_for(lambda: frames() > (first or 0) + 5 and frames())
        check("the frame counter moves", later, f"{first} then {frames()}")
        live = wait_for(lambda: driver.execute_script("return document.getElementById('live').naturalWidth"))
        check("the live picture has loaded", live == 1280, live)
        overflow = driver.execute_script("return document.documentElement.scrollWidth - window.innerWidth")
        check("the page fits a 1280-pixel window", overflow <= 0, overflow)
        # Read in the page in one step: the list is drawn anew with every state.
        info = wait_for(lambda: driver.execute_script(
            "const e = document.querySelector('#events .info'); return e && e.innerText"))
        check("a first run's fallback reads as information", info == "no camera configured; using HD Camera", info)

        before = state(base)
        wait_for(lambda: driver.find_elements(By.ID, "p-brightness"))
        driver.execute_script("const s = document.getElementById('p-brightness'); s.value = 85;"
                              "s.dispatchEvent(new Event('change'));")
        bright = lambda: next(p for p in state(base)["properties"] if p["name"] == "brightness")["percent"] == 85
        check("the slider sets the camera's brightness", wait_for(bright))
        brighter = wait_for(lambda: state(base)["meanLevel"] > before["meanLevel"] + 30 and state(base)["meanLevel"])
        check("the picture gets brighter", brighter, f"{before['meanLevel']} then {state(base)['meanLevel']}")
        driver.execute_script("const s = document.getElementById('p-brightness'); s.value = 50;"
                              "s.dispatchEvent(new Event('change'));")
        wait_for(lambda: abs(state(base)["meanLevel"] - before["meanLevel"]) < 10)

        driver.find_element(By.ID, "snap").click()
        saved = wait_for(lambda: driver.find_element(By.ID, "saved").text.startswith("saved") and
                         driver.find_element(By.ID, "saved").text)
        check("Snap says what it saved", saved, driver.find_element(By.ID, "message").text)
        path = os.path.join(work, "snap_00.ppm")
        check("Snap writes the file", os.path.exists(path))
        if os.path.exists(path):
            width, height, pixels = read_ppm(path)
            marker = pixels[((height // 32) * width + width // 32) * 3:][:3]
            corner = pixels[((height - 1 - height // 32) * width + width - 1 - width // 32) * 3:][:3]
            check("the snap is the pattern, marker top left", width == 1280 and min(marker) > 230 and min(corner) < 230,
                  (width, height, list(marker), list(corner)))
        shown = wait_for(lambda: driver.execute_script("return document.getElementById('snapshot').naturalWidth"))
        check("the page shows the snap", shown == 1280, shown)
        cameras = driver.find_element(By.ID, "cameras").text
        check("the camera list marks the connected camera",
              "HD Camera" in cameras and driver.find_elements(By.CSS_SELECTOR, "#cameras li.connected"),
              cameras)
        time.sleep(0.5)  # one more refresh of the page for the screenshot
        driver.execute_script("window.scrollTo(0, 0)")
        driver.save_screenshot(screenshot)
        check("a screenshot was taken", os.path.getsize(screenshot) > 10000)

        driver.find_element(By.ID, "stop").click()
        try:
            code = server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            code = None
        check("the page's stop ends the program cleanly", code == 0, code)
    finally:
        driver.quit()
        if server.poll() is None:
            server.terminate()
            server.wait(timeout=20)
    failed = results.count(False)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
