#!/usr/bin/env python3
"""The web console in headless Chromium: a real broker, the real hub with a
user of each role, and a real console on a simulated receiver taking the
hub's commands. Exit 77 when a tool it needs is missing."""
import argparse
import datetime
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    print("python3-selenium is not installed (scripts/ensure-deps.sh)")
    sys.exit(77)

STATION = "s1"
PASSWORDS = {"oper": "oper-password", "view": "view-password", "boss": "boss-password"}
ROLES = {"oper": "operator", "view": "viewer", "boss": "manager"}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, proc, what):
    for _ in range(200):
        if proc.poll() is not None:
            raise SystemExit(f"{what} ended early")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return
        except OSError:
            time.sleep(0.1)
    raise SystemExit(f"{what} did not open port {port}")


PLAN_CSV = """address,priority,instructions,guard_group,guard_phone,holder,name,role,phones
0012,,"Позвонить ответственному, выслать группу.",ГБР-3,+7 900 000-00-03,1,Петров,директор,+7 900 111-22-33
"""
# A fire at the plan's object, then a burglary left for the viewer.
SCENARIO = """wait 2s
contact-id addr=12 new code=110 part=1 zone=3
wait 1s
contact-id addr=13 new code=130 part=1 zone=2
wait 10min
"""


class Console:
    """A real console (pelvaron-headless) on a simulated receiver, publishing to
    the broker and taking the hub's commands."""

    def __init__(self, args, work, mqtt_port):
        self.folder = os.path.join(work, "console")
        os.mkdir(self.folder)
        with open(os.path.join(work, "plans.csv"), "w") as f:
            f.write(PLAN_CSV)
        subprocess.run([args.plans, "import", os.path.join(work, "plans.csv")], cwd=self.folder, check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(work, "alarms.scn"), "w") as f:
            f.write(SCENARIO)
        link = os.path.join(work, "receiver")
        self.sim = subprocess.Popen([args.sim, "--link", link, "--scenario", os.path.join(work, "alarms.scn")],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(link):
                break
            time.sleep(0.1)
        self.log = open(os.path.join(work, "console.log"), "w")
        self.proc = subprocess.Popen([args.headless, "--station", STATION, "--device", f"COM1={link}",
                                      "--mqtt", f"mqtt://127.0.0.1:{mqtt_port}", "--mqtt-commands"],
                                     cwd=self.folder, stdout=self.log, stderr=self.log)

    def protocol(self):
        try:
            with open(os.path.join(self.folder, "protocol.txt"), "rb") as f:
                return f.read().decode("cp1251")
        except FileNotFoundError:
            return ""

    def stop(self):
        for p in (self.proc, self.sim):
            p.terminate()
            p.wait(timeout=20)
        self.log.close()


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1100,800",
                "--autoplay-policy=no-user-gesture-required", "--lang=ru"):
        options.add_argument(arg)
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)


def sign_in(driver, url, user, password):
    driver.delete_all_cookies()
    driver.get(url)
    WebDriverWait(driver, 20).until(lambda d: d.find_element(By.ID, "login").is_displayed())
    driver.find_element(By.ID, "login-user").send_keys(user)
    driver.find_element(By.ID, "login-password").send_keys(password)
    driver.find_element(By.ID, "login-submit").click()


def post_from_page(driver, path, with_csrf):
    """Status of a POST made by the page's own origin, with or without the token."""
    return driver.execute_async_script("""
        const [path, withCsrf, done] = arguments;
        fetch('/api/session').then(r => r.json()).then(s => fetch(path, {method: 'POST',
            headers: Object.assign({'Content-Type': 'application/json'}, withCsrf ? {'X-CSRF-Token': s.csrf} : {}),
            body: '{}'})).then(r => done(r.status), e => done(String(e)));""", path, with_csrf)


def run(args, work, failures):
    def check(ok, what):
        if not ok:
            failures.append(what)
            print("FAIL:", what)

    mqtt_port, web_port = free_port(), free_port()
    with open(os.path.join(work, "mosquitto.conf"), "w") as f:
        f.write(f"listener {mqtt_port} 127.0.0.1\nallow_anonymous true\npersistence false\n")
    broker = subprocess.Popen(["mosquitto", "-c", os.path.join(work, "mosquitto.conf")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    procs = [broker]
    try:
        wait_port(mqtt_port, broker, "mosquitto")
        for user, password in PASSWORDS.items():
            subprocess.run([args.hub, "--user", "add", user, "--role", ROLES[user]], cwd=work, check=True,
                           input=password + "\n", text=True, stdout=subprocess.DEVNULL)
        hub = subprocess.Popen([args.hub, "--mqtt", f"mqtt://127.0.0.1:{mqtt_port}", "--mqtt-client-id", "hub-test",
                                "--listen", f"127.0.0.1:{web_port}", "--web-root", args.web_root], cwd=work,
                               stderr=open(os.path.join(work, "hub.log"), "w"))
        procs.append(hub)
        wait_port(web_port, hub, "pelvaron-hub")
        console = Console(args, work, mqtt_port)
        url = f"http://127.0.0.1:{web_port}/"
        driver = browser()
        try:
            wait = WebDriverWait(driver, 20)
            # A wrong password is refused with the reason.
            sign_in(driver, url, "oper", "wrong-password")
            wait.until(lambda d: d.find_element(By.ID, "login-error").text)
            check(driver.find_element(By.ID, "login-error").text == "Неверное имя пользователя или пароль",
                  "a wrong password is refused: " + driver.find_element(By.ID, "login-error").text)

            # The operator: the console's fire on the board, its plan; acknowledge, act, close.
            sign_in(driver, url, "oper", PASSWORDS["oper"])
            fire = f'.alarm[data-station="{STATION}"][data-priority="fire"]'
            alarm = WebDriverWait(driver, 60).until(lambda d: d.find_element(By.CSS_SELECTOR, fire))
            check("Пожар" in alarm.text and "0012" in alarm.text, "the alarm on the board: " + alarm.text)
            card = driver.find_element(By.CSS_SELECTOR, ".console").text
            check("связь: норма" in card and "корпус: закрыт" in card, "the console's state in words: " + card)
            fire_id = alarm.get_attribute("data-id")
            alarm.click()
            detail = wait.until(lambda d: d.find_element(By.ID, "alarm-detail"))
            check("ГБР-3" in detail.text and "Петров" in detail.text, "the object's plan shown: " + detail.text)
            driver.save_screenshot(args.screenshot)
            check(post_from_page(driver, f"/api/alarms/{STATION}/{fire_id}/ack", False) == 403,
                  "a request without the CSRF token is refused")

            def confirmed(text):
                wait.until(lambda d: text in d.find_element(By.ID, "command-status").text)

            driver.find_element(By.ID, "ack-note").send_keys("принято")
            driver.find_element(By.ID, "ack").click()
            confirmed("тревога принята")
            wait.until(lambda d: "принята: oper" in d.find_element(By.CSS_SELECTOR, fire).text)
            Select(driver.find_element(By.ID, "action-code")).select_by_value("guard-sent")
            driver.find_element(By.ID, "action-detail").send_keys("ГБР-3")
            driver.find_element(By.ID, "action-submit").click()
            confirmed("действие записано")
            Select(driver.find_element(By.ID, "outcome")).select_by_value("real")
            driver.find_element(By.ID, "close-submit").click()
            confirmed("тревога закрыта")
            wait.until(lambda d: not d.find_elements(By.CSS_SELECTOR, fire))
            # Recorded by the console as if done in its window, each once, naming the user.
            protocol = console.protocol()
            for line in (f"Подтверждена тревога №{fire_id} (pelvaron-hub), объект '0012'", "Примечание: принято",
                         f"Действие по тревоге №{fire_id}, объект '0012'", "Выслана группа: ГБР-3",
                         f"Закрыта тревога №{fire_id}, объект '0012'", "Итог: Реальная тревога"):
                check(protocol.count(line) == 1, f"the console's protocol has {line!r} once")
            check(protocol.count("Оператор: oper") == 3, "the console's protocol names oper three times:\n" + protocol)

            # A viewer sees the burglary and no buttons; the API refuses it.
            sign_in(driver, url, "view", PASSWORDS["view"])
            left = wait.until(lambda d: d.find_element(By.CSS_SELECTOR, ".alarm"))
            left_id = left.get_attribute("data-id")
            left.click()
            wait.until(lambda d: d.find_element(By.ID, "alarm-detail").is_displayed())
            check(not driver.find_elements(By.CSS_SELECTOR, "#alarm-detail button"), "a viewer has no buttons")
            check(post_from_page(driver, f"/api/alarms/{STATION}/{left_id}/ack", True) == 403, "a viewer's command is 403")

            # A telephone's width: nothing wider than the screen.
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                   {"width": 360, "height": 740, "deviceScaleFactor": 1, "mobile": True})
            width = driver.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
            check(width[0] <= width[1] == 360, f"the board fits 360 px: {width}")

            # The shift report, opened from the page in a tab of its own.
            driver.find_element(By.ID, "tab-reports").click()
            width = driver.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
            check(width[0] <= width[1] == 360, f"the reports' form fits 360 px: {width}")
            board = driver.current_window_handle
            driver.find_element(By.ID, "report-open").click()
            wait.until(lambda d: len(d.window_handles) == 2)
            driver.switch_to.window([h for h in driver.window_handles if h != board][0])
            wait.until(lambda d: "Отчёт за смену" in d.find_element(By.TAG_NAME, "body").text)
            check("Отчёт за смену" in driver.title, "the shift report opens from the page: " + driver.title)
            driver.close()
            driver.switch_to.window(board)
        finally:
            driver.quit()
            console.stop()
    finally:
        for p in reversed(procs):
            p.terminate()
            p.wait(timeout=20)
        for log in ("hub.log", "console.log"):
            if failures and os.path.exists(os.path.join(work, log)):
                print(open(os.path.join(work, log)).read())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--hub", required=True)
    parser.add_argument("--headless", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--plans", required=True)
    parser.add_argument("--web-root", required=True)
    parser.add_argument("--screenshot", required=True)
    args = parser.parse_args()
    for tool in ("chromium", "chromedriver", "mosquitto", "mosquitto_pub", "mosquitto_sub"):
        if not shutil.which(tool):
            print(f"{tool} is not installed (scripts/ensure-deps.sh)")
            return 77
    failures = []
    with tempfile.TemporaryDirectory(prefix="pelvaron-web-") as work:
        run(args, work, failures)
    print("\n".join(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
