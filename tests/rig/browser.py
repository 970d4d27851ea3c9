"""Headless Chromium through Selenium (Debian's chromium, chromium-driver and python3-selenium)."""
import os

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

from rig.generator import DeviceTree
from rig.scpi import Client
from rig.serve import Server


def chromium(log=False, home=None, any_certificate=False):
    """A browser of 1000 x 800 pixels; log: it keeps what pages log (get_log("browser")); home:
    its HOME, whose NSS database (.pki/nssdb) holds the certificates it trusts; any_certificate:
    it takes any (a measurement's self-signed one)."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1000,800"):
        options.add_argument(flag)
    if any_certificate:
        options.set_capability("acceptInsecureCerts", True)
    if log:
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    env = dict(os.environ, HOME=home) if home else None
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver", env=env), options=options)


class ServedPage(DeviceTree):
    """A browser for the test class; for each test a generator plugged in, serve on it (self.server,
    with the class's serve_options) and a SCPI client of it (self.scpi)."""
    serve_options = ()
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
        self.server = self.serve(*self.serve_options)
        self.scpi = Client(self.server.port, host=self.host)
        self.addCleanup(self.scpi.close)

    def serve(self, *options):
        """varnoltctl serve with these options, stopped at the test's end."""
        server = Server(*options, env=self.env)
        self.addCleanup(server.stop)
        self.assertIsNotNone(server.url, "\n".join(server.lines))
        return server

    def wait_until(self, condition, limit=5.0):
        """condition() once it holds, or at the time limit."""
        try:
            WebDriverWait(self.browser, limit, poll_frequency=0.02).until(lambda _: condition())
        except Exception:
            pass
        return condition()
