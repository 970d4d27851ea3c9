"""Headless Chromium through Selenium (Debian's chromium, chromium-driver and python3-selenium)."""
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from rig.generator import DeviceTree
from rig.scpi import Client


def chromium(log=False, any_certificate=False):
    """A browser of 1000 x 800 pixels; log: it keeps what pages log (get_log("browser"));
    any_certificate: it takes any (a self-signed one)."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1000,800"):
        options.add_argument(flag)
    if any_certificate:
        options.set_capability("acceptInsecureCerts", True)
    if log:
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class ServedPage(DeviceTree):
    """A browser for the test class; for each test a generator plugged in, serve on it
    (self.server) and a SCPI client of it (self.scpi); the page's controls by their accessible
    names."""
    host = "127.0.0.1"  # where the SCPI client finds the server

    @classmethod
    def setUpClass(cls):
        cls.browser = chromium(log=True)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()

    def setUp(self):
        super().setUp()
        self.generator = self.plug_in()
        self.server = self.serve()
        self.scpi = Client(self.server.port, host=self.host)
        self.addCleanup(self.scpi.close)

    def wait_until(self, condition, limit=5.0):
        """condition() once it holds, or at the time limit. A condition that raises (an element
        not there yet, or replaced) has not held yet: the wait goes on."""
        def holds(_):
            try:
                return condition()
            except Exception:
                return False
        try:
            WebDriverWait(self.browser, limit, poll_frequency=0.02).until(holds)
        except Exception:
            pass
        return condition()

    def open_page(self):
        self.named = {}
        self.browser.get_log("browser")  # what earlier pages logged
        self.browser.get(self.server.url)
        self.wait_until(lambda: self.control("Frequency").get_attribute("value") != "")

    def control(self, name):
        """The one element whose accessible name is name (the names are read once a page and
        again when one is not found where it was)."""
        for fresh in (False, True):
            if fresh or not self.named.get(name):
                self.named = {}
                for element in self.browser.find_elements(
                        By.CSS_SELECTOR, "button, input, select, output, fieldset, [role]"):
                    self.named.setdefault(element.accessible_name, []).append(element)
            found = self.named.get(name, [])
            if len(found) == 1 and (not fresh and found[0].accessible_name == name or fresh):
                return found[0]
        self.assertEqual(len(found), 1, f"elements named {name!r}")
        return found[0]

    def field_error(self, name):
        """The text shown beside a field (the element that describes it)."""
        field = self.control(name)
        return self.browser.find_element(By.ID, field.get_attribute("aria-describedby")).text

    def type_into(self, name, text):
        field = self.control(name)
        field.click()
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(text, Keys.ENTER)
