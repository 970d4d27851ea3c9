"""Headless Chromium through Selenium (Debian's chromium, chromium-driver and python3-selenium)."""
from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def chromium(log=False):
    """A browser of 1000 x 800 pixels; log: it keeps what pages log (get_log("browser"))."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1000,800"):
        options.add_argument(flag)
    if log:
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
