#!/usr/bin/python3
"""The self-service pages in a real browser: headless Chromium, driven through Selenium, walks
the road of a claim against `rembiz serve` on a fresh demo company. Every step checks the
database, not only the page, and leaves a screenshot. Exits 77 (skipped) without Selenium,
ChromeDriver or Chromium."""

import argparse
import base64
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
import xml.etree.ElementTree as ET
import zlib

try:
    from selenium import webdriver
    from selenium.common.exceptions import (NoAlertPresentException,
                                            StaleElementReferenceException, TimeoutException)
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.common.print_page_options import PrintOptions
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    print("SKIPPED: python3-selenium is not installed")
    sys.exit(77)

CHROMEDRIVER = "/usr/bin/chromedriver"
CHROMIUM = "/usr/bin/chromium"
ROW = "{#RowsetSchema}row"
SCRIPT_PURPOSE = "<script>alert('x')</script> & <b>Beijing</b> trip"


def receipt_png(path, width=240, height=320):
    """A receipt-like PNG made here: a white slip with dark bars as lines of print."""
    rows = []
    for y in range(height):
        line = bytearray()
        printed = 30 <= y < height - 30 and (y // 8) % 3 == 0
        for x in range(width):
            dark = printed and 20 <= x < width - 20 - (y * 7) % 60
            line += b"\x20\x20\x20" if dark else b"\xff\xff\xff"
        rows.append(b"\x00" + bytes(line))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height,
                                                                        8, 2, 0, 0, 0)) +
                  chunk(b"IDAT", zlib.compress(b"".join(rows))) + chunk(b"IEND", b""))
    return path


class Road:
    def __init__(self, rembiz, shots):
        self.rembiz = rembiz
        self.shots = shots
        self.step = 0
        self.tmp = tempfile.mkdtemp(prefix="rembiz-pages-")
        self.data = os.path.join(self.tmp, "data")
        subprocess.run([rembiz, "init", "--data", self.data, "--demo"], check=True,
                       stdout=subprocess.DEVNULL)
        # Port 0: the service takes a free port and names it in its log, which goes to a file
        # (a pipe nobody reads would stop the service once full).
        self.log = os.path.join(self.tmp, "serve.log")
        with open(self.log, "w") as log:
            self.server = subprocess.Popen([rembiz, "serve", "--data", self.data, "--listen",
                                            "127.0.0.1:0", "--threads", "2"],
                                           stdout=log, stderr=subprocess.STDOUT)
        match = None
        for _ in range(100):
            with open(self.log) as log:
                match = re.search(r"http://127\.0\.0\.1:(\d+)/", log.read())
            if match or self.server.poll() is not None:
                break
            time.sleep(0.1)
        if not match:
            self.server.kill()
            raise RuntimeError("the service did not start: " + open(self.log).read())
        self.base = "http://127.0.0.1:%s" % match.group(1)
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--window-size=1280,1000",
                     "--lang=en-US", "--user-data-dir=" + os.path.join(self.tmp, "profile")):
            options.add_argument(flag)
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.driver.implicitly_wait(0)

    def close(self):
        try:
            self.driver.quit()
        finally:
            self.server.terminate()
            try:
                self.server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.server.kill()
            shutil.rmtree(self.tmp, ignore_errors=True)

    # -- the database -------------------------------------------------------------------------
    def sql(self, statement):
        out = subprocess.run([self.rembiz, "sql", "--data", self.data, "--xml", statement],
                             check=True, capture_output=True, text=True).stdout
        return [dict(row.attrib) for row in ET.fromstring(out).iter(ROW)]

    def one(self, statement):
        rows = self.sql(statement)
        assert len(rows) == 1, "%s: %r" % (statement, rows)
        return rows[0]

    # -- the browser --------------------------------------------------------------------------
    def shot(self, name):
        self.step += 1
        self.driver.save_screenshot(os.path.join(self.shots, "%02d-%s.png" % (self.step, name)))
        print("step %d: %s" % (self.step, name), flush=True)

    def wait(self, condition, what, timeout=15):
        # A list redrawn while the condition reads it leaves stale elements: read it again.
        try:
            return WebDriverWait(self.driver, timeout,
                                 ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: condition())
        except TimeoutException:
            self.shot("FAILED-" + re.sub(r"\W+", "-", what)[:40])
            raise AssertionError("timed out waiting for " + what + "\nmessage: " + self.message()
                                 + "\nbrowser log: " + json.dumps(self.driver.get_log("browser")))

    def css(self, selector, root=None):
        return (root or self.driver).find_elements(By.CSS_SELECTOR, selector)

    def first(self, selector, root=None, what=None):
        return self.wait(lambda: (self.css(selector, root) or [None])[0], what or selector)

    def message(self):
        box = self.css("#message")
        return box[0].text if box else ""

    def wait_message(self, kind):
        self.wait(lambda: self.css("#message." + kind + " span"), kind + " message")
        return self.message()

    def open(self, route):
        # A new address each time: the page loads afresh even for the view already shown.
        self.loads = getattr(self, "loads", 0) + 1
        self.driver.get("%s/app/?load=%d#/%s" % (self.base, self.loads, route))
        self.wait(lambda: self.driver.execute_script(
            "return !document.querySelector('main').hasAttribute('aria-busy') && "
            "!!document.querySelector('main h1')"), "page " + route)

    def login(self, user, language="en-US"):
        self.driver.get(self.base + "/app/")
        if self.wait(lambda: self.css("#logout:not([hidden])") or self.css("form.login"),
                     "login or logout")[0].tag_name == "button":
            self.css("#logout")[0].click()
            self.wait(lambda: not self.css("#logout:not([hidden])"), "logged out")
        # The log-in form is drawn again once the session is gone: take the one that stays.
        for attempt in range(5):
            try:
                form = self.first("form.login")
                Select(form.find_element(By.NAME, "language")).select_by_value(language)
                break
            except StaleElementReferenceException:
                time.sleep(0.2)
        form = self.first("form.login")
        form.find_element(By.NAME, "user").send_keys(user)
        # Enter in the password field logs in.
        form.find_element(By.NAME, "password").send_keys(user, Keys.ENTER)
        self.first("#logout:not([hidden])", what="logged in as " + user)

    def fill(self, root, name, value):
        el = root.find_element(By.NAME, name)
        if el.tag_name == "select":
            Select(el).select_by_value(value)
        else:
            el.clear()
            el.send_keys(value)

    def row(self, n):
        return self.css("table.edit tbody tr")[n]

    def forget_message(self):
        """Clears the message line, so that the next wait_message sees a new message."""
        self.driver.execute_script("document.getElementById('message').replaceChildren()")

    def click(self, text, root=None):
        self.forget_message()
        for el in self.css("button, a.button", root):
            if el.text.strip() == text and el.is_enabled():
                el.click()
                return
        raise AssertionError("no button " + text)

    def pick(self, text):
        """Ticks the checkbox of the table row that shows `text`."""
        for tr in self.css("tbody tr"):
            if text in tr.text:
                tr.find_element(By.CSS_SELECTOR, "input[type=checkbox]").click()
                return
        raise AssertionError("no row with " + text)

    def accept(self):
        """Accepts the confirmation the page asks for."""
        alert = self.wait(lambda: self._alert(), "a confirmation")
        alert.accept()

    def _alert(self):
        try:
            return self.driver.switch_to.alert
        except NoAlertPresentException:
            return None

    def image_loaded(self, img):
        return self.driver.execute_script(
            "return arguments[0].complete && arguments[0].naturalWidth > 0", img)

    def wide_enough(self, name):
        assert self.driver.execute_script(
            "return document.documentElement.scrollWidth <= window.innerWidth + 1"), name

    def phone_shot(self, route, name):
        """The list at phone width: stacked cards, nothing wider than the screen."""
        self.driver.set_window_size(390, 844)
        try:
            self.open(route)
            self.wait(lambda: self.css("main table.cards") or self.css("main p.muted"), name)
            assert self.driver.execute_script(
                "return document.documentElement.scrollWidth <= window.innerWidth + 1"), name
            self.shot(name + "-390")
        finally:
            self.driver.set_window_size(1280, 1000)

    def post(self, path, body, headers):
        request = urllib.request.Request(self.base + path, data=body.encode(), headers=headers,
                                         method="POST")
        try:
            with urllib.request.urlopen(request) as res:
                return res.status, res.read().decode()
        except urllib.error.HTTPError as e:
            return e.code, e.read().decode()


def walk(r):
    year = r.one("select max(iYear) as y from qdsystem..UA_Period")["y"]

    # Log-in: switching the language keeps what was typed, a refused log-in says why.
    r.driver.get(r.base + "/app/")
    form = r.first("form.login")
    form.find_element(By.NAME, "user").send_keys("clerk")
    form.find_element(By.NAME, "password").send_keys("wrong")
    Select(form.find_element(By.NAME, "language")).select_by_value("zh-CN")
    form = r.first("form.login")
    assert form.find_element(By.NAME, "password").get_attribute("value") == "wrong"
    form.find_element(By.NAME, "password").send_keys(Keys.ENTER)
    r.wait(lambda: r.css("form.login .error-text:not([hidden])") and
           r.css("form.login .error-text")[0].text, "the refused log-in said")
    r.shot("login-refused")

    # The clerk asks for an advance of 800 and submits it; the approver approves it.
    r.login("clerk")
    r.open("loan/new")
    form = r.first("form.entry")
    r.fill(form, "strDepartID", "0201")
    r.fill(form, "strLoanID", "0002")
    r.fill(form, "strUsed", "Advance for the Beijing trip")
    r.fill(r.row(0), "strBalanceID", "1")
    r.fill(r.row(0), "dblMoney", "800")
    r.shot("clerk-new-loan")
    r.click("Save")
    r.wait_message("info")
    loan = r.one("select GUID, strVouchID, dblMoney, strPersonID, blnAudi from EC_LoanVouch")
    assert loan["dblMoney"] == "800" and loan["strPersonID"] == "Carl Clerk", loan
    r.click("Submit for approval")
    r.wait_message("info")
    assert r.one("select blnAudi from EC_LoanVouch")["blnAudi"] == "True"
    r.shot("clerk-loan-submitted")

    r.login("approver")
    r.open("inbox")
    r.first("a[href^='#/review/loan/']").click()
    r.first("form.decision")
    r.click("Approve")
    r.wait_message("info")
    assert r.one("select strAuditorID from EC_LoanVouch")["strAuditorID"] == "Anna Approver"
    r.shot("approver-loan-approved")

    # The advance is in cash: the cashier finds it among the loans to pay out and pays it.
    r.login("cashier")
    r.open("pay")
    r.wait(lambda: loan["strVouchID"] in r.first("main").text, "the cash loan listed")
    r.pick(loan["strVouchID"])
    r.click("Pay out in cash")
    r.accept()
    assert "Paid out in cash: 1" in r.wait_message("info")
    row = r.one("select strPayID, blnNetOK from EC_LoanVouch_Sub")
    assert row["strPayID"].startswith("XJ") and row["blnNetOK"] == "True", row
    r.wait(lambda: "paid (" + row["strPayID"] + ")" in r.first("main").text, "the loan paid")
    r.shot("cashier-cash-loan-paid")
    # A word nothing matches empties every list: the server searched them all.
    r.first("form.filters").find_element(By.NAME, "q").send_keys("no such voucher", Keys.ENTER)
    r.wait(lambda: len(r.css("main section.card p.muted")) == 3, "nothing found to pay")

    # The clerk's claim: a hotel row above the hard standard and a transport row above the
    # warning standard, each shown inline as the row is entered.
    r.login("clerk")
    r.open("claim/new")
    form = r.first("form.entry")
    r.fill(form, "strTypeCode", "201")
    r.fill(form, "strDepartID", "0201")
    r.fill(form, "strLoanID", "0002")
    r.fill(form, "strUsed", SCRIPT_PURPOSE)
    budget = form.find_element(By.NAME, "strBudItemID")
    budget.send_keys("02")
    r.wait(lambda: len(r.css("form.entry .ports [name=strPort1Value]")) == 1, "the budget's field")
    time.sleep(0.5)
    assert len(r.css("form.entry .ports .field")) == 1, [f.text for f in r.css(".ports .field")]
    assert "部门" not in r.first(".ports").text, r.first(".ports").text
    Select(budget).select_by_value("")
    for n, values in enumerate([
            {"strIOItem": "20101", "strEZero": "0101", "dblNumber": "2", "dblVouch": "1000",
             "dblMoney": "1000", "strMemo": "Hotel, two nights"},
            {"strIOItem": "20102", "dblNumber": "1", "dblVouch": "400", "dblMoney": "400",
             "strMemo": "Train"}]):
        if n:
            r.click("Add a row")
        for name, value in values.items():
            r.fill(r.row(n), name, value)
    r.wait(lambda: "excess 100.00" in r.row(0).text and "excess 50.00" in r.row(1).text,
           "the standards of both rows")
    assert "Strict control" in r.row(0).text and "Warning" in r.row(1).text, r.row(0).text
    r.shot("clerk-claim-standards-inline")
    r.click("Save")
    refusal = r.wait_message("error")
    # The server's row label "(1)" is said as the page says rows.
    assert refusal.startswith("Row 1: ") and "1000.00" in refusal, refusal
    assert r.sql("select GUID from EC_ExpenVouch") == [], "a refused claim was written"
    # Nothing typed is lost.
    assert r.row(0).find_element(By.NAME, "dblMoney").get_attribute("value") == "1000"
    assert r.first("form.entry").find_element(By.NAME, "strUsed").get_attribute(
        "value") == SCRIPT_PURPOSE
    r.shot("clerk-claim-refused-by-hard-standard")
    # A value that is no number is named by its label and row, in the page's language.
    r.fill(r.row(1), "dblNumber", "abc")
    r.click("Save")
    refusal = r.wait_message("error")
    assert refusal.startswith("Row 2: Quantity is not a number."), refusal
    r.fill(r.row(1), "dblNumber", "1")
    r.fill(r.row(0), "dblVouch", "900")
    r.fill(r.row(0), "dblMoney", "900")
    r.click("Save")
    warning = r.wait_message("warn")
    assert "400.00" in warning and "50.00" in warning, warning
    claim = r.one("select GUID, AutoID, dblMoney, strUsed from EC_ExpenVouch")
    assert claim["dblMoney"] == "1300" and claim["strUsed"] == SCRIPT_PURPOSE, claim
    assert "1,300.00" in r.first("dl.facts").text
    stands = r.sql("select strIOItem, dblStand, dblMoney from EC_ExpenVouch_Sub order by AutoID")
    assert [(s["strIOItem"], s["dblStand"]) for s in stands] == [("20101", "900"),
                                                                  ("20102", "350")], stands
    # The purpose with markup is shown as its characters: no element, no script ran.
    r.wait(lambda: SCRIPT_PURPOSE in r.first("dl.facts").text, "the purpose as text")
    assert r.driver.execute_script("return document.querySelectorAll('main script, main b').length") == 0
    try:
        r.driver.switch_to.alert
        raise AssertionError("the purpose ran as a script")
    except NoAlertPresentException:
        pass
    r.shot("clerk-claim-saved-with-warning")
    # Escape dismisses the message line.
    r.driver.find_element(By.TAG_NAME, "body").send_keys(Keys.ESCAPE)
    r.wait(lambda: not r.message(), "the message dismissed")

    # The clerk writes the advance off against the claim and submits it.
    section = r.first("form.write-off")
    r.pick(loan["strVouchID"])
    r.click("Save write-offs", section)
    r.wait_message("info")
    link = r.one("select dblJE, blnUsed from EC_ExpenLoanInfo")
    assert link["dblJE"] == "800", link
    r.shot("clerk-advance-written-off")
    attach_receipts(r, claim)
    r.click("Submit for approval")
    r.wait_message("info")
    assert r.one("select blnAudi from EC_ExpenVouch")["blnAudi"] == "True"
    r.wait(lambda: "Submitted" in r.first("dl.facts").text, "state submitted")
    # Submitted, the receipts are frozen: shown, no longer removable.
    r.wait(lambda: r.css("main tr[data-row='1'] button.thumb img"), "the receipt on the voucher")
    assert not r.css("main .receipts .remove")
    r.shot("clerk-claim-submitted")

    # Two approvers: the manager (in Chinese) takes the first step, the approver the second
    # from the list, with the batch approval.
    r.login("manager", "zh-CN")
    r.open("inbox")
    assert "待我审批" in r.first("h1").text
    r.phone_shot("inbox", "manager-inbox")
    r.open("inbox")
    r.first("a[href^='#/review/claim/']").click()
    r.first("form.decision")
    # The advance the claim writes off is part of what the approver decides on.
    r.wait(lambda: loan["strVouchID"] in r.first("main").text and "800.00" in r.first(
        "main").text, "the write-off shown to the approver")
    r.shot("manager-reads-write-off")
    r.click("不同意")
    assert "说明原因" in r.wait_message("error")
    r.first("form.decision").find_element(By.NAME, "remark").send_keys("发票不全")
    r.click("不同意")
    r.wait_message("info")
    r.shot("manager-rejected")

    # The clerk takes the rejected claim back, corrects it with its write-off and submits again.
    r.login("clerk")
    claim_id = r.one("select AutoID from EC_ExpenVouch")["AutoID"]
    r.open("claim/" + claim_id)
    r.wait(lambda: "Rejected" in r.first("dl.facts").text, "state rejected")
    r.click("Withdraw")
    r.wait_message("info")
    r.first("main a[href$='/edit']").click()
    form = r.first("form.entry")
    r.click("Cancel")
    r.wait(lambda: r.driver.current_url.endswith("#/claim/" + claim_id), "back to the voucher")
    r.first("main a[href$='/edit']").click()
    form = r.first("form.entry")
    r.fill(form, "strUsed", SCRIPT_PURPOSE + " (receipts attached)")
    r.click("Save")
    r.wait_message("warn")
    assert r.one("select dblJE from EC_ExpenLoanInfo")["dblJE"] == "800"
    r.click("Submit for approval")
    r.wait_message("info")
    r.wait(lambda: "发票不全" in r.first("main").text and "Reject" in r.first("main").text,
           "the rejection kept in the history")
    assert "不同意" not in r.first("main").text
    r.shot("clerk-claim-corrected-and-resubmitted")

    r.login("manager", "zh-CN")
    r.open("inbox")
    r.first("a[href^='#/review/claim/']").click()
    r.forget_message()
    r.first("form.decision").find_element(By.NAME, "remark").send_keys("同意报销", Keys.ENTER)
    r.wait_message("info")
    flow = r.one("select iCurStep, iState, iRound from Host_FlowInstance where cCardNumber = '47'")
    assert flow == {"iCurStep": "2", "iState": "0", "iRound": "2"}, flow
    assert r.one("select ifnull(strAuditorID, '') as a from EC_ExpenVouch")["a"] == ""
    r.shot("manager-step-one")
    # The approver prints what is being approved, in the language of the session (the captions
    # of the print template), though not allowed to enter claims.
    r.open("print/claim/" + claim_id)
    sheet = r.first("article.sheet")
    for text in ("报销日期", "Mike Manager", "同意报销", "审批人签字"):
        assert text in sheet.text, (text, sheet.text)
    r.shot("manager-claim-print-view")

    r.login("approver")
    approver_views_receipts(r, claim_id)
    r.open("inbox")
    # The work waiting is counted in the navigation; the header box picks the whole page.
    r.wait(lambda: r.css("#nav [data-count=inbox]:not([hidden])") and r.css(
        "#nav [data-count=inbox]")[0].text == "1", "one voucher to approve in the navigation")
    r.first("main thead input[type=checkbox]").click()
    assert all(box.is_selected() for box in r.css("main tbody input[type=checkbox]"))
    r.shot("approver-inbox-all-picked")
    r.click("Approve the picked vouchers")
    r.wait_message("info")
    # Nothing waits any more, and the navigation says so without reloading.
    r.wait(lambda: r.css("#nav [data-count=inbox][hidden]"), "nothing left to approve")
    claim = r.one("select strAuditorID, dblMoney from EC_ExpenVouch")
    assert claim["strAuditorID"] == "Anna Approver", claim
    assert r.one("select dblReturn, blnSettle from EC_LoanVouch_Sub") == {
        "dblReturn": "800", "blnSettle": "True"}
    r.shot("approver-step-two")

    # The cashier settles the rest by transfer and pays it online; the bank confirms.
    r.login("cashier")
    r.open("pay")
    r.first("a[href^='#/settle/']").click()
    form = r.first("form.grid-form")
    assert form.find_element(By.NAME, "dblMoney").get_attribute("value") == "500.00"
    r.fill(form, "strBalanceID", "302")
    r.fill(form, "strPayBankID", "01")
    r.fill(form, "strBankName", "ICBC Beijing")
    r.fill(form, "strBankAcc", "6222020200001111")
    r.click("Save the settlement")
    r.wait_message("info")
    line = r.one("select GUID, dblMoney, intIOType from EC_BalanceInfo")
    assert line["dblMoney"] == "500" and line["intIOType"] == "2", line
    assert r.one("select strVerifier, blnSettle from EC_ExpenVouch") == {
        "strVerifier": "Cathy Cashier", "blnSettle": "True"}
    r.shot("cashier-settled")
    r.open("pay")
    r.pick(r.one("select strVouchID from EC_ExpenVouch")["strVouchID"])
    r.click("Send to the bank")
    r.wait_message("info")
    pay_id = r.one("select strPayID from EC_BalanceInfo")["strPayID"]
    assert pay_id, "no payment id"
    r.wait(lambda: "sent, waiting for the bank" in r.first(".bank-state").text, "bank state sent")
    r.shot("cashier-sent-to-bank")
    subprocess.run([r.rembiz, "bank", "confirm", "--data", r.data, "--id", pay_id], check=True,
                   stdout=subprocess.DEVNULL)
    assert r.one("select blnNetOK from EC_BalanceInfo")["blnNetOK"] == "True"
    r.open("pay")
    r.wait(lambda: "paid by the bank" in r.first(".bank-state").text, "bank state paid")
    r.shot("cashier-bank-confirmed")

    # A loan for another department (one the clerk's data permissions include) is shown and
    # listed once saved, in Chinese too, and submitted; the form starts with the clerk's latest department.
    subprocess.run([r.rembiz, "sql", "--data", r.data, "insert into Host_ScopeRuleItem "
                    "(cUser_Id, cAuthType, cSelector1, cSelector2, cCode) values "
                    "('clerk', 'department', '', '', '0301')"], check=True,
                   stdout=subprocess.DEVNULL)
    r.login("clerk", "zh-CN")
    r.open("loan/new")
    form = r.first("form.entry")
    assert form.find_element(By.NAME, "strDepartID").get_attribute("value") == "0201"
    assert form.find_element(By.NAME, "strLoanID").get_attribute("value") == "0002"
    r.fill(form, "strDepartID", "0301")
    r.fill(form, "strLoanID", "0004")
    r.fill(form, "strUsed", "展会备用金")
    r.fill(r.row(0), "dblMoney", "1234.5")
    r.click("保存")
    r.wait_message("info")
    other = r.one("select AutoID, strVouchID from EC_LoanVouch where strDepartID = '0301'")
    r.wait(lambda: other["strVouchID"] in r.first("main h1").text, "the saved loan shown")
    assert "1,234.50" in r.first("dl.facts").text
    r.click("提交审批")
    r.wait_message("info")
    r.open("mine")
    r.wait(lambda: other["strVouchID"] in r.first("main").text, "the saved loan listed")
    r.shot("clerk-loan-other-department")

    # The finance office previews and generates the ledger voucher of the loan and the claim.
    r.login("finance")
    r.open("ledger")
    r.wait(lambda: r.css("#nav [data-count=ledger]")[0].text == "2", "two vouchers to book")
    r.shot("finance-waiting")
    # The word finds the loan alone among the vouchers to book.
    r.first("form.filters").find_element(By.NAME, "q").send_keys(loan["strVouchID"], Keys.ENTER)
    r.wait(lambda: len(r.css("main tbody tr")) == 1 and loan["strVouchID"] in r.first(
        "main tbody").text, "the loan found among the vouchers to book")
    assert "800.00" in r.first("main tfoot").text, r.first("main tfoot").text
    r.shot("finance-search-by-number")
    r.open("ledger")
    r.pick(loan["strVouchID"])
    r.pick(r.one("select strVouchID from EC_ExpenVouch")["strVouchID"])
    r.click("Preview")
    r.wait(lambda: "Total" in r.first(".preview").text, "the preview")
    assert r.sql("select * from GL_accvouch") == []
    r.shot("finance-preview")
    r.click("Generate")
    r.wait_message("info")
    lines = r.sql("select ccode, md, mc from GL_accvouch")
    assert sum(float(l["md"] or 0) for l in lines) == sum(float(l["mc"] or 0) for l in lines) > 0
    made = r.sql("select strMakerID, PZGUID from EC_ExpenVouch union all "
                 "select strMakerID, PZGUID from EC_LoanVouch where GUID = '%s'" % loan["GUID"])
    assert all(m["strMakerID"] == "Fiona Finance" and m["PZGUID"] for m in made), made
    r.wait(lambda: "660202" in r.first("main table").text, "the ledger voucher's lines")
    r.shot("finance-ledger-voucher")
    # The vouchers made list both sources, live; voiding marks the voucher void.
    claim_no = r.one("select strVouchID from EC_ExpenVouch")["strVouchID"]
    r.open("ledger")
    made = r.css("main section")[-1]
    r.wait(lambda: loan["strVouchID"] in made.text and claim_no in made.text, "both sources made")
    assert "Live" in made.text, made.text
    # Nothing is left to book: the navigation counts no work.
    r.wait(lambda: r.css("#nav [data-count=ledger][hidden]"), "nothing left to book")
    r.shot("finance-vouchers-made")
    r.phone_shot("ledger", "finance-ledger")
    r.open("ledger")
    r.click("Void", r.css("main section")[-1])
    r.accept()
    r.wait_message("info")
    r.wait(lambda: r.css("main section .voided"), "the void marking")
    assert "Void" in r.first("main section .voided").text
    r.shot("finance-voided")

    # The possible duplicates: the same receipt file on the claim's two rows, linked.
    r.open("reports")
    r.first("main a[href='#/duplicates']").click()
    r.wait(lambda: r.css("main table.cards tbody tr"), "the possible duplicates")
    pair = r.first("main table.cards tbody tr")
    assert "Same receipt file" in pair.text and claim_no + ", row 1" in pair.text, pair.text
    assert pair.find_element(By.CSS_SELECTOR, "a").get_attribute("href").endswith(
        "#/print/claim/" + claim_id)
    r.shot("finance-possible-duplicates")
    r.phone_shot("duplicates", "finance-possible-duplicates")

    # The ageing of today's loans on the first click: the submitted loan of 0301 is owed (the
    # advance was repaid by the claim); the summary that follows shows its data.
    r.open("reports")
    assert r.first("main form").find_element(By.NAME, "cutoff").get_attribute("value") == ""
    r.click("Show")
    r.wait(lambda: "1,234.50" in r.first("main table.report").text, "today's loan in the ageing")
    assert not r.message(), r.message()
    r.shot("finance-ageing-today")
    r.fill(r.first("main form"), "kind", "summary")
    r.click("Show")
    r.wait(lambda: r.css("svg.chart rect.bar"), "the report chart")
    assert not r.message(), r.message()
    r.shot("finance-reports")
    # The pages' CSV writer: what a spreadsheet would run as a formula is text, amounts stay
    # numbers.
    csv = r.driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        import('/app/report_view.js').then((rv) => {
          const row = new DOMParser().parseFromString(
              `<row who='=HYPERLINK("http://x.example")' amount='-500'/>`,
              'application/xml').documentElement;
          done(rv.reportCsv({columns: [{name: 'who', text: '@who', group: ''},
                                       {name: 'amount', text: 'Amount', group: '', total: true}],
                             rows: [row], totals: {amount: -500}}, '-Total'));
        }, (e) => done(String(e)));""")
    assert csv == ("'@who,Amount\r\n\"'=HYPERLINK(\"\"http://x.example\"\")\",-500\r\n"
                   "'-Total,-500.00\r\n"), repr(csv)

    # The clerk's vouchers with the states the service answers, and the claim's approval
    # history: the loan was repaid by the write-off, the claim paid by write-off and transfer.
    r.login("clerk")
    r.open("mine")
    r.wait(lambda: len(r.css("main tbody tr")) == 3, "my loans and my claim")
    assert sorted(tr.find_elements(By.TAG_NAME, "td")[-1].text for tr in r.css("main tbody tr")) \
        == ["Paid", "Settled", "Submitted"], [tr.text for tr in r.css("main tbody tr")]
    # The lists total their amounts and show what each loan still owes.
    loans_box = r.css("main section.card")[1]
    assert "Total of this page" in loans_box.find_element(By.TAG_NAME, "tfoot").text
    r.shot("clerk-my-vouchers")
    # The server searches: the claim's number finds the claim alone.
    claim_no = r.one("select strVouchID from EC_ExpenVouch")["strVouchID"]
    r.first("form.filters").find_element(By.NAME, "q").send_keys(claim_no, Keys.ENTER)
    r.wait(lambda: len(r.css("main tbody tr")) == 1 and claim_no in r.first("main tbody").text,
           "the claim found by its number")
    r.shot("clerk-search-by-number")
    r.fill(r.first("form.filters"), "q", "")
    r.fill(r.first("form.filters"), "state", "draft")
    r.click("Search")
    r.wait(lambda: not r.css("main tbody tr") and len(r.css("main section.card p.muted")) == 2,
           "no drafts left")
    r.open("mine")
    r.first("main tbody a[href^='#/claim/']").click()
    r.wait(lambda: "Mike Manager" in r.first("main").text and "Anna Approver" in r.first(
        "main").text and "同意报销" in r.first("main").text, "the approval history")
    r.shot("clerk-claim-history")

    # The claim's change history: each step of its road, the correction with what it changed,
    # and the bank and the ledger at the end; at phone width the entries stack as cards.
    r.wait(lambda: "Change history" in r.first("main").text, "the change history")
    changes = [s for s in r.css("main section") if s.text.startswith("Change history")][0]
    for event in ("Created", "Changed", "Submitted", "Rejected", "Step approved", "Approved",
                  "Online payment sent", "Payment confirmed by the bank", "Ledger voucher made",
                  "Ledger voucher voided", "The bank", "Mike Manager", "→"):
        assert event in changes.text, (event, changes.text)
    r.driver.execute_script("arguments[0].scrollIntoView()", changes)
    r.shot("clerk-claim-change-history")
    r.driver.set_window_size(390, 844)
    try:
        r.wide_enough("the change history at phone width")
        r.driver.execute_script("arguments[0].scrollIntoView()", changes)
        r.shot("clerk-claim-change-history-390")
    finally:
        r.driver.set_window_size(1280, 1000)

    r.phone_shot("mine", "clerk-my-vouchers")

    # The printed claim: its print template's layout with rows, write-off, history and
    # signature lines, on A4 as Chromium prints it.
    r.open("print/claim/" + claim_id)
    sheet = r.first("article.sheet")
    for text in ("支出报销单", claim_no, "Anna Approver", loan["strVouchID"], "报销人签字"):
        assert text in sheet.text, (text, sheet.text)
    r.shot("clerk-claim-print-view")
    options = PrintOptions()
    options.page_width, options.page_height = 21.0, 29.7
    pdf = os.path.join(r.shots, "claim.pdf")
    with open(pdf, "wb") as out:
        out.write(base64.b64decode(r.driver.print_page(options)))
    if shutil.which("pdftoppm"):
        subprocess.run(["pdftoppm", "-png", "-r", "60", "-f", "1", "-l", "1", pdf,
                        os.path.join(r.shots, "claim-printed")], check=True)
        png = os.path.join(r.shots, "claim-printed-1.png")
        with open(png, "rb") as f:
            width, height = struct.unpack(">II", f.read(24)[16:24])
        # A4 at 60 dpi: 496 x 702 pixels.
        assert abs(width - 496) <= 2 and abs(height - 702) <= 2, (width, height)
        printed = subprocess.run(["pdftotext", "-layout", pdf, "-"], check=True,
                                 capture_output=True, text=True).stdout
        assert claim_no in printed and "报销人签字" in printed, printed
    else:
        print("pdftoppm is not installed: the printed claim stays a PDF")
    loan_id = r.one("select AutoID from EC_LoanVouch where GUID = '%s'" % loan["GUID"])["AutoID"]
    r.open("print/loan/" + loan_id)
    for text in ("借款单", loan["strVouchID"], "Purpose", "借款人签字"):
        r.wait(lambda: text in r.first("article.sheet").text, "the printed loan: " + text)

    # The next user of the browser logs in on the clerk's address: their own first view opens.
    r.open("claim/" + claim_id)
    r.css("#logout")[0].click()
    r.first("form.login")
    r.driver.get(r.base + "/app/#/claim/" + claim_id)
    form = r.first("form.login")
    form.find_element(By.NAME, "user").send_keys("approver")
    form.find_element(By.NAME, "password").send_keys("approver", Keys.ENTER)
    r.wait(lambda: r.driver.current_url.endswith("#/inbox") and r.css("main h1"), "the inbox")
    assert not r.message(), r.message()
    r.shot("approver-on-clerk-address")

    # A voucher that does not exist is said, and the page does not stay "Loading".
    r.login("clerk")
    r.open("claim/999")
    assert "There is no such voucher." in r.wait_message("error")
    assert "could not be opened" in r.first("main h1").text
    r.shot("clerk-no-such-voucher")


    # A phone-width screen: nothing wider than the screen but the tables in their boxes.
    r.driver.set_window_size(390, 844)
    r.open("claim/new")
    r.first("form.entry")
    assert r.driver.execute_script(
        "return document.documentElement.scrollWidth <= window.innerWidth + 1"), "too wide"
    r.shot("clerk-phone-width")

    # A page of another site may not post with the clerk's cookie; scripts without Origin may.
    cookie = "; ".join("%s=%s" % (c["name"], c["value"]) for c in r.driver.get_cookies())
    save = ("<req><func name='savevouch'><in><xml><head><z:row xmlns:z='#RowsetSchema' "
            "strTypeCode='201' strVouchID='ZC%s990001' dtLoanDate='%s-03-01' strDepartID='0201' "
            "strLoanID='0002' strBill='人民币' fltRate='1' dblMoney='10' dblOldMoney='10' "
            "strUsed='forged' strPersonID='x'/></head><body/></xml></in></func></req>"
            % (year, year))
    status, body = r.post("/api/CExpense", save, {"Cookie": cookie, "Origin": "http://evil.example",
                                                  "Content-Type": "application/xml"})
    assert status == 403 and "Rembiz:serve:request:403" in body, (status, body)
    assert r.sql("select GUID from EC_ExpenVouch where strUsed = 'forged'") == []
    status, body = r.post("/api/CPubMsg", "<req><func name='currencyget'/></req>",
                          {"Cookie": cookie, "Content-Type": "application/xml"})
    assert status == 200 and "cexch_name" in body, (status, body)
    print("cross-origin POST refused, plain POST served")


def attach_receipts(r, claim):
    """The clerk attaches a receipt image to the first row of the saved claim on its form, is
    told why a file that is no receipt was refused, and attaches the same image to the second row
    (a possible duplicate the approver is shown)."""
    png = receipt_png(os.path.join(r.tmp, "hotel-receipt.png"))
    text = os.path.join(r.tmp, "notes.txt")
    with open(text, "w") as out:
        out.write("not a receipt\n")
    r.first("main a[href$='/edit']").click()
    r.first("form.entry")
    r.wait(lambda: r.css("table.edit tbody tr td.more input[type=file]"), "the receipt pickers")
    r.row(0).find_element(By.CSS_SELECTOR, "td.more input[type=file]").send_keys(png)
    r.wait(lambda: r.css("table.edit tbody tr:first-child button.thumb img"), "the thumbnail")
    img = r.first("table.edit tbody tr:first-child button.thumb img")
    r.wait(lambda: r.image_loaded(img), "the thumbnail loaded")
    receipt = r.one("select GUID, iRowNo, cFileName, cMimeType, iSize from EC_Receipt")
    assert receipt["iRowNo"] == "1" and receipt["cFileName"] == "hotel-receipt.png" and \
        receipt["cMimeType"] == "image/png" and int(receipt["iSize"]) == os.path.getsize(png), receipt
    # A file that is no receipt: the row says the service's refusal; nothing is kept.
    r.row(1).find_element(By.CSS_SELECTOR, "td.more input[type=file]").send_keys(text)
    refused = r.wait(lambda: r.css("table.edit tbody tr:nth-child(2) .uploads li.refused"),
                     "the refusal by the row")[0]
    assert refused.text.strip() and "notes.txt" in refused.text, refused.text
    assert len(r.sql("select GUID from EC_Receipt")) == 1
    r.row(1).find_element(By.CSS_SELECTOR, "td.more input[type=file]").send_keys(png)
    r.wait(lambda: r.css("table.edit tbody tr:nth-child(2) button.thumb img"), "the second one")
    assert [x["iRowNo"] for x in r.sql("select iRowNo from EC_Receipt order by iRowNo")] == \
        ["1", "2"]
    # The same file on both rows is flagged on each.
    r.wait(lambda: "Same file as" in r.row(0).text and "row 2" in r.row(0).text,
           "the duplicate flagged on the form")
    # The receipts are the rows' last column: the table's box scrolls to them.
    r.driver.execute_script("arguments[0].scrollLeft = arguments[0].scrollWidth",
                            r.first("form.entry .table-box"))
    r.shot("clerk-claim-receipts-on-form")
    r.driver.set_window_size(390, 844)
    try:
        r.wait(lambda: r.css("table.edit tbody tr:first-child button.thumb img"), "phone form")
        r.wide_enough("the claim form with receipts")
        r.driver.execute_script("arguments[0].scrollIntoView()", r.row(0).find_element(
            By.CSS_SELECTOR, "td.more"))
        r.shot("clerk-claim-receipts-on-form-390")
    finally:
        r.driver.set_window_size(1280, 1000)
    # The form leaves without saving: the receipts are kept already.
    r.click("Cancel")
    r.wait(lambda: r.driver.current_url.endswith("#/claim/" + claim["AutoID"]), "the voucher")
    r.wait(lambda: r.css("main tr[data-row='1'] button.thumb img") and r.css(
        "main tr[data-row='2'] button.thumb img"), "the receipts on the voucher")
    r.shot("clerk-claim-receipts-on-voucher")


def approver_views_receipts(r, claim_id):
    """The approver sees the thumbnails by the rows, the duplicate flag, and the receipt large in
    the viewer with its original to download; at phone width too."""
    receipt = r.one("select GUID from EC_Receipt where iRowNo = 1")["GUID"]
    for width in (1280, 390):
        r.driver.set_window_size(width, 1000 if width > 400 else 844)
        try:
            r.open("review/claim/" + claim_id)
            row = r.first("main tr[data-row='1']")
            img = r.first("button.thumb img", row)
            r.wait(lambda: r.image_loaded(img), "the thumbnail for the approver")
            src = img.get_attribute("src").lower()
            assert "/api/receipt/" in src and receipt.strip("{}").lower() in src and \
                src.endswith("?view=thumb"), (src, receipt)
            assert "Same file as" in row.text and "row 2" in row.text, row.text
            if width < 400:
                r.wide_enough("the review with receipts")
            r.first("button.thumb", row).click()
            viewer = r.first("dialog.receipt-viewer[open]")
            page = r.first("dialog.receipt-viewer[open] .viewer-page img")
            r.wait(lambda: r.image_loaded(page), "the receipt in the viewer")
            assert "hotel-receipt.png" in viewer.text and "Row 1" in viewer.text, viewer.text
            link = viewer.find_element(By.CSS_SELECTOR, "a[href*='download=1']")
            assert receipt.strip("{}").lower() in link.get_attribute("href").lower()
            r.shot("approver-receipt-viewer" + ("" if width > 400 else "-390"))
            r.click("Close", viewer)
            r.wait(lambda: not r.css("dialog.receipt-viewer[open]"), "the viewer closed")
        finally:
            r.driver.set_window_size(1280, 1000)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rembiz", required=True)
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    for path in (CHROMEDRIVER, CHROMIUM):
        if not os.path.exists(path):
            print("SKIPPED: %s is not installed" % path)
            return 77
    os.makedirs(args.shots, exist_ok=True)
    for old in os.listdir(args.shots):
        if old.endswith(".png"):
            os.remove(os.path.join(args.shots, old))
    started = time.monotonic()
    road = Road(args.rembiz, args.shots)
    try:
        walk(road)
    except Exception:
        with open(road.log) as log:
            print("the service's log, last lines:\n" + "".join(log.readlines()[-30:]))
        raise
    finally:
        road.close()
    print("the road took %.1f s; screenshots in %s" % (time.monotonic() - started, args.shots))
    return 0


if __name__ == "__main__":
    sys.exit(main())
