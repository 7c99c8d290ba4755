"""A headless Chromium that a test drives as a person would: it opens pages, types into boxes, presses
buttons and takes screenshots, through ChromeDriver (Debian's chromium-driver and python3-selenium).
Nothing it does leaves the machine: every name but the loopback address resolves to nothing."""
import os
import shutil

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, WebDriverException
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    # Chromium's own background traffic (updates, accounts, DNS) must not leave the machine either: every
    # name resolves to nothing, only the loopback address is reachable.
    "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1", "--no-proxy-server",
    "--disable-features=AsyncDns,DnsOverHttps,NetworkTimeServiceQuerying,OptimizationHints,Translate,MediaRouter",
    "--disable-domain-reliability", "--no-pings", "--disable-breakpad", "--window-size=1280,1280",
]


class Browser:
    def __init__(self, work, name, timeout=20):
        self.profile = os.path.join(work, "profile-" + name)
        shutil.rmtree(self.profile, ignore_errors=True)
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for flag in CHROMIUM_FLAGS + ["--user-data-dir=" + self.profile]:
            options.add_argument(flag)
        # The driver's path is given, so the client never looks for one on the network.
        service = DriverService(executable_path=shutil.which("chromedriver") or "/usr/bin/chromedriver")
        self.driver = webdriver.Chrome(service=service, options=options)
        self.driver.set_page_load_timeout(timeout)
        self.timeout = timeout

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.driver.quit()

    def open(self, url):
        self.driver.get(url)

    def find(self, css):
        return WebDriverWait(self.driver, self.timeout).until(
            expected_conditions.presence_of_element_located((By.CSS_SELECTOR, css)))

    def type(self, css, text):
        box = self.find(css)
        box.clear()
        box.send_keys(text)

    def press(self, css):
        """Clicks a button or link and waits for the page it leads to."""
        old = self.driver.find_element(By.TAG_NAME, "html")
        self.find(css).click()

        def left(_):
            try:
                old.is_enabled()
                return False
            except StaleElementReferenceException:
                return True
            except WebDriverException as e:
                # Asked while the old page is being torn down, Chromium answers with this instead.
                if "does not belong to the document" in str(e):
                    return True
                raise

        WebDriverWait(self.driver, self.timeout).until(left)

    def text(self):
        return self.driver.find_element(By.TAG_NAME, "body").text

    def source(self):
        return self.driver.page_source

    def url(self):
        return self.driver.current_url

    def screenshot(self, path):
        self.driver.save_screenshot(path)
