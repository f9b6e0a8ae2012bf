#!/usr/bin/python3
"""A company from nothing through the pages: `rembiz init` without the demo, then the
administrator's pages (roles, rights, users, a department with its head, a person, cash, the
chart of accounts, a flow, the loan's operation type and the ledger accounts of loans and cash),
the employee's loan, the head's approval and the ledger voucher in the self-service pages, and
an import of persons. Headless Chromium through Selenium; every step checks the database and
leaves screenshots at 1280 px and 390 px. Exits 77 (skipped) without Selenium, ChromeDriver or
Chromium."""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import self_service_road as base  # noqa: E402  (exits 77 without Selenium)
from self_service_road import By, Keys, Select  # noqa: E402

ADMIN_PASSWORD = "admin-secret-1"
PASSWORDS = {"admin": ADMIN_PASSWORD, "boss": "boss-secret-1", "sam": "sam-secret-1"}


class AdminRoad(base.Road):
    def __init__(self, rembiz, shots):  # noqa: super().__init__ makes a demo company
        self.rembiz = rembiz
        self.shots = shots
        self.step = 0
        self.tmp = tempfile.mkdtemp(prefix="rembiz-admin-")
        self.data = os.path.join(self.tmp, "data")
        subprocess.run([rembiz, "init", "--data", self.data, "--admin-password", ADMIN_PASSWORD,
                        "--account-name", "Harbour Trading"], check=True,
                       stdout=subprocess.DEVNULL)
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
        options = base.webdriver.ChromeOptions()
        options.binary_location = base.CHROMIUM
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--window-size=1280,1000",
                     "--lang=en-US", "--user-data-dir=" + os.path.join(self.tmp, "profile")):
            options.add_argument(flag)
        self.driver = base.webdriver.Chrome(service=base.Service(base.CHROMEDRIVER),
                                            options=options)
        self.driver.implicitly_wait(0)

    def shot(self, name):
        """The page at 1280 px and at a phone's 390 px, which must not be wider than the screen
        (tables scroll in their boxes)."""
        self.step += 1
        self.driver.set_window_size(1280, 1000)
        self.driver.save_screenshot(os.path.join(self.shots, "%02d-%s-1280.png" % (self.step, name)))
        self.driver.set_window_size(390, 844)
        time.sleep(0.2)
        wide = self.driver.execute_script(
            "return document.documentElement.scrollWidth - window.innerWidth")
        self.driver.save_screenshot(os.path.join(self.shots, "%02d-%s-390.png" % (self.step, name)))
        assert wide <= 1, "%s is %d px wider than a phone" % (name, wide)
        self.driver.set_window_size(1280, 1000)
        print("step %d: %s" % (self.step, name), flush=True)

    def login(self, user, language="en-US"):
        self.driver.get(self.base + "/app/")
        if self.wait(lambda: self.css("#logout:not([hidden])") or self.css("form.login"),
                     "login or logout")[0].tag_name == "button":
            self.css("#logout")[0].click()
        form = self.first("form.login")
        Select(form.find_element(By.NAME, "language")).select_by_value(language)
        form = self.first("form.login")
        form.find_element(By.NAME, "user").send_keys(user)
        form.find_element(By.NAME, "password").send_keys(PASSWORDS[user], Keys.ENTER)
        self.first("#logout:not([hidden])", what="logged in as " + user)

    def admin_form(self, kind, values, button="Save", expect="info"):
        """Fills the form of a kind's page and saves it; answers the message it leaves."""
        self.open("admin/" + kind)
        form = self.first("form.admin-form")
        for name, value in values.items():
            el = form.find_element(By.NAME, name)
            if el.get_attribute("type") == "checkbox":
                if el.is_selected() != (value == "1"):
                    el.click()
            else:
                self.fill(form, name, value)
        self.click(button, form)
        return self.wait_message(expect)

    def options(self, form, name):
        """The values a select of the form offers, the empty one left out."""
        return [o.get_attribute("value") for o in self.css("select[name=%s] option" % name, form)
                if o.get_attribute("value")]


def walk(r):
    year = r.one("select max(iYear) as y from qdsystem..UA_Period")["y"]

    # The administrator sees the administration; a company from nothing has no users yet.
    r.login("admin")
    assert "Administration" in r.first("#nav").text
    r.open("admin")
    assert r.css("a[href='#/admin/flow']")
    r.shot("admin-home")

    # A role for the staff with its rights, and an empty role for the auditors.
    r.admin_form("role", {"id": "STAFF", "name": "Staff"})
    r.admin_form("role", {"id": "AUDIT", "name": "Auditors"})
    r.open("admin/rights/role%3ASTAFF")
    form = r.first("form.admin-rights")
    for right in ("EC020101", "EC03"):
        form.find_element(By.CSS_SELECTOR, "input[value='%s']" % right).click()
    r.click("Save", form)
    r.wait_message("info")
    held = r.sql("select cAuth_Id from qdsystem..UA_HoldAuth where cUser_Id = 'STAFF' "
                 "order by cAuth_Id")
    assert [h["cAuth_Id"] for h in held] == ["EC020101", "EC03"], held
    r.shot("admin-role-rights")

    # Bea, the head who approves and books; Sam, the employee with the staff role.
    r.admin_form("user", {"id": "boss", "name": "Bea Boss", "language": "zh-CN",
                          "password": PASSWORDS["boss"]})
    r.admin_form("user", {"id": "sam", "name": "Sam Seller", "roles": "STAFF",
                          "password": PASSWORDS["sam"]})
    assert r.one("select cGroup_Id from qdsystem..UA_Role where cUser_Id = 'sam'") == {
        "cGroup_Id": "STAFF"}
    r.shot("admin-users")
    # A user leaves: disabled through the link of the list. Sam's password is reset.
    r.admin_form("user", {"id": "temp", "name": "Tom Temp", "password": "temp-secret-1"})
    r.first("main tbody a[href='#/admin/user/temp']").click()
    form = r.first("form.admin-form")
    assert form.find_element(By.NAME, "id").get_attribute("readonly") is not None
    form.find_element(By.NAME, "disabled").click()
    r.click("Save", form)
    r.wait_message("info")
    assert r.one("select bDisabled from qdsystem..UA_User where cUser_Id = 'temp'")[
        "bDisabled"] in ("True", "1")
    r.open("admin/user/sam")
    form = r.first("form.admin-password")
    PASSWORDS["sam"] = "sam-secret-2"
    r.fill(form, "password", PASSWORDS["sam"])
    r.click("Set the new password", form)
    r.wait_message("info")
    r.shot("admin-user-password-reset")
    r.open("admin/rights/user%3Aboss")
    form = r.first("form.admin-rights")
    for right in ("EC02", "EC03"):
        form.find_element(By.CSS_SELECTOR, "input[value='%s']" % right).click()
    r.click("Save", form)
    r.wait_message("info")

    # Sales, headed by Bea; Sam in it; cash; the chart of accounts.
    r.admin_form("department", {"code": "02", "name": "Sales", "head": "boss"})
    r.admin_form("person", {"code": "0002", "name": "Sam Seller", "department": "02",
                            "bankacc": "6222 0000 1111", "bank": "Harbour Bank"})
    assert r.one("select cDepLeader from Department where cDepCode = '02'") == {
        "cDepLeader": "boss"}
    assert r.one("select cDepCode from Person where cPersonCode = '0002'") == {"cDepCode": "02"}
    r.open("admin/person")
    r.shot("admin-person")
    r.admin_form("settlestyle", {"code": "1", "name": "Cash"})
    for code, name, person in (("1001", "Cash", "0"), ("1221", "Other receivables", "1")):
        r.admin_form("account", {"code": code, "name": name, "person": person})
    assert r.one("select bperson from code where ccode = '1221'")["bperson"] in ("True", "1")
    r.shot("admin-accounts")

    # A loan flow whose step only the empty role would approve is refused, clearly, and
    # nothing is kept; with the head as approver it is saved.
    flows = len(r.sql("select iFlowId from Host_Flow"))
    r.open("admin/flow")
    form = r.first("form.flow-form")
    r.fill(form, "family", "loan")
    r.fill(form, "name", "Loans over 500")
    r.fill(form, "priority", "10")
    r.fill(form, "min", "500")
    r.fill(form, "reject", "previous")
    step = r.css("fieldset.steps tbody tr")[0]
    r.fill(step, "name", "Audit")
    r.fill(step, "approvers", "role:AUDIT")
    r.click("Save", form)
    refusal = r.wait_message("error")
    assert "Audit" in refusal, refusal
    alert = r.first("form.flow-form p.error-text[role=alert]")
    assert alert.is_displayed() and "Audit" in alert.text, alert.text
    assert r.css("fieldset.steps tr.refused")
    assert len(r.sql("select iFlowId from Host_Flow")) == flows
    r.shot("admin-flow-nobody-approves")
    r.fill(step, "name", "Head")
    r.fill(step, "approvers", "head")
    r.click("Save", form)
    r.wait_message("info")
    flow = r.one("select iFlowId, mMinAmount, iRejectAction from Host_Flow where cFlowName = "
                 "'Loans over 500'")
    assert flow["iRejectAction"] == "1", flow
    assert r.one("select iIsUser from Host_FlowApprover where iFlowId = %s" % flow["iFlowId"]) \
        == {"iIsUser": "2"}
    r.shot("admin-flow-saved")

    # The loan's operation type: the family by its name, the templates those of its vouchers;
    # the class gives the code.
    r.open("admin/optype")
    form = r.first("form.admin-form")
    family = Select(form.find_element(By.NAME, "intType"))
    assert [o.text for o in family.options] == ["loans", "income claims", "expenditure claims"]
    r.fill(form, "intType", "2")
    assert r.options(form, "strShowID") == ["31"] and r.options(form, "strPrintID") == ["32"]
    r.fill(form, "intType", "3")
    assert r.options(form, "strShowID") == ["11"] and r.options(form, "strPrintID") == ["12"]
    r.fill(form, "strName", "Travel advance")
    r.click("Save", form)
    r.wait_message("info")
    assert r.one("select strCode, intType, strName, strShowModel, strPrintModel from "
                 "EC_OperationType") == {"strCode": "301", "intType": "3",
                                         "strName": "Travel advance", "strShowModel": "11",
                                         "strPrintModel": "12"}
    assert "Travel advance" in r.first("main tbody tr").text and "11 借款单" in r.first(
        "main tbody tr").text
    # The same name in the same family is refused by the class and nothing is added; an
    # expenditure type is added, changed (its family stays) and deleted.
    r.admin_form("optype", {"intType": "3", "strName": "Travel advance"}, expect="error")
    r.admin_form("optype", {"intType": "2", "strName": "Office costs"})
    assert r.one("select strShowModel, strPrintModel from EC_OperationType where strCode = "
                 "'201'") == {"strShowModel": "31", "strPrintModel": "32"}
    r.first("main tbody a[href='#/admin/optype/201']").click()
    form = r.first("form.admin-form")
    assert not form.find_element(By.NAME, "intType").is_enabled()
    r.fill(form, "strName", "Office supplies")
    r.shot("admin-optype-edit")
    r.click("Save", form)
    r.wait_message("info")
    assert r.one("select strName from EC_OperationType where strCode = '201'") == {
        "strName": "Office supplies"}
    r.first("main tbody a[href='#/admin/optype/201']").click()
    r.click("Delete", r.first("form.admin-form"))
    r.accept()
    r.wait_message("info")
    assert r.sql("select strCode from EC_OperationType order by strCode") == [{"strCode": "301"}]
    r.shot("admin-optype")

    # The ledger accounts of loans and cash: the posting accounts of the chart by their names.
    r.open("admin/iokm")
    form = r.first("form.admin-form")
    assert r.options(form, "strCode") == ["1001", "1221"]
    assert r.options(form, "strIOItemCode") == []
    r.admin_form("iokm", {"strOperatType": "301", "strCurrency": "人民币", "strCode": "1221"})
    assert r.one("select strOperatType, isnull(strIOItemCode, '') as item, strCurrency, "
                 "strSubject, cast(blnModiDire as int) as turn from EC_PzSet_IO") == {
        "strOperatType": "301", "item": "", "strCurrency": "人民币", "strSubject": "1221",
        "turn": "0"}
    listed = r.first("main tbody tr").text
    assert "301 Travel advance" in listed and "1221 Other receivables" in listed, listed
    # The same type, item and currency again is refused.
    r.admin_form("iokm", {"strOperatType": "301", "strCurrency": "人民币", "strCode": "1001"},
                 expect="error")
    assert len(r.sql("select GUID from EC_PzSet_IO")) == 1
    r.shot("admin-iokm")
    r.open("admin/opkm")
    form = r.first("form.admin-form")
    assert r.options(form, "strBalanceType") == ["1"] and r.options(form, "strBankID") == []
    r.admin_form("opkm", {"strOperatType": "2", "strBalanceType": "1", "strCurrency": "人民币",
                          "strCode": "1001"})
    assert r.one("select strOperatType, strBalanceType, isnull(strBankID, '') as bank, "
                 "strCurrency, strSubject from EC_PzSet_OP") == {
        "strOperatType": "付款", "strBalanceType": "1", "bank": "", "strCurrency": "人民币",
        "strSubject": "1001"}
    listed = r.first("main tbody tr").text
    assert "Payment" in listed and "1 Cash" in listed and "1001 Cash" in listed, listed
    r.shot("admin-opkm")

    # Sam asks for an advance; the administration is not his to see, nor to call.
    r.login("sam")
    assert "Administration" not in r.first("#nav").text
    cookie = "; ".join("%s=%s" % (c["name"], c["value"]) for c in r.driver.get_cookies())
    status, body = r.post("/api/CAdmin", "<req><func name='save'><in kind='role'><row P='1' "
                          "id='X' name='X'/></in></func></req>",
                          {"Cookie": cookie, "Content-Type": "application/xml"})
    assert "<error>" in body and r.sql("select 1 as x from qdsystem..UA_Group where "
                                       "cGroup_Id = 'X'") == [], (status, body)
    # Nor are the operation types and the ledger accounts: their classes refuse him.
    for cls, body in (
            ("COperation", "<req><func name='edit'><in><row P='1' intType='3' strName='Mine' "
                           "strShowID='11' strPrintID='12'/></in></func></req>"),
            ("CPzSet", "<req><func name='saveopkm'><in><row P='1' strOperatType='1' "
                       "strBalanceType='1' strCurrency='人民币' strCode='1221'/></in></func>"
                       "</req>")):
        status, answer = r.post("/api/" + cls, body, {"Cookie": cookie,
                                                      "Content-Type": "application/xml"})
        assert "<error>" in answer, (cls, status, answer)
    assert len(r.sql("select strCode from EC_OperationType")) == 1
    assert len(r.sql("select GUID from EC_PzSet_OP")) == 1
    r.open("loan/new")
    form = r.first("form.entry")
    r.fill(form, "strDepartID", "02")
    r.fill(form, "strLoanID", "0002")
    r.fill(form, "strUsed", "Trip north")
    r.fill(r.row(0), "strBalanceID", "1")
    r.fill(r.row(0), "dblMoney", "800")
    r.click("Save")
    r.wait_message("info")
    r.click("Submit for approval")
    r.wait_message("info")
    instance = r.one("select f.cFlowName, i.cHead_Id from Host_FlowInstance i join Host_Flow f "
                     "on f.iFlowId = i.iFlowId")
    assert instance == {"cFlowName": "Loans over 500", "cHead_Id": "boss"}, instance
    r.shot("sam-loan-submitted")

    # Bea, in Chinese, finds it waiting, approves it and books it.
    r.login("boss", "zh-CN")
    r.open("inbox")
    r.first("a[href^='#/review/loan/']").click()
    r.first("form.decision")
    r.shot("boss-loan-to-approve")
    r.click("同意")
    r.wait_message("info")
    assert r.one("select strAuditorID from EC_LoanVouch")["strAuditorID"] == "Bea Boss"
    r.open("ledger")
    r.pick(r.one("select strVouchID from EC_LoanVouch")["strVouchID"])
    r.click("预览")
    r.wait(lambda: "合计" in r.first(".preview").text, "the preview")
    r.click("生成凭证")
    r.wait_message("info")
    lines = r.sql("select ccode, md, mc from GL_accvouch")
    assert sorted(l["ccode"] for l in lines) == ["1001", "1221"], lines
    assert sum(float(l["md"] or 0) for l in lines) == sum(float(l["mc"] or 0) for l in lines) \
        == 800
    r.shot("boss-ledger-voucher")

    # The administrator imports persons: the check lists the refused line, the import with it
    # adds nothing; without it, both lines.
    r.login("admin", "zh-CN")
    sheet = os.path.join(r.tmp, "persons.csv")
    with open(sheet, "w", encoding="utf-8") as out:
        out.write("code,name,department,email\r\n0003,Ann Archer,02,ann@example.com\r\n"
                  "0004,Ben Baker,99,\r\n")
    r.open("admin/import")
    form = r.first("form.admin-import")
    r.fill(form, "kind", "person")
    form.find_element(By.NAME, "file").send_keys(sheet)
    r.click("检查（不导入）", form)
    r.wait(lambda: r.css(".import-result td"), "the refused lines")
    cells = [td.text for td in r.css(".import-result td")]
    assert cells[0] == "3" and "99" in cells[1], cells
    assert r.sql("select 1 as x from Person where cPersonCode in ('0003', '0004')") == []
    r.shot("admin-import-dry-run")
    # The corrected sheet is a new file: a browser does not read a file changed after it was
    # chosen.
    sheet = os.path.join(r.tmp, "persons-corrected.csv")
    with open(sheet, "w", encoding="utf-8") as out:
        out.write("code,name,department,email\r\n0003,Ann Archer,02,ann@example.com\r\n"
                  "0004,Ben Baker,02,\r\n")
    form.find_element(By.NAME, "file").send_keys(sheet)
    r.click("导入", form)
    r.wait(lambda: r.driver.execute_script(
        "const p = document.querySelector('.import-result p');"
        "return !!p && p.textContent.includes('2') && "
        "!document.querySelector('.import-result td')"), "the import")
    assert len(r.sql("select 1 as x from Person where cPersonCode in ('0003', '0004')")) == 2
    r.shot("admin-import-done")
    # A workbook the command line exported reads back in the page: every person is there
    # already, and each line says so.
    book = os.path.join(r.tmp, "persons.xlsx")
    subprocess.run([r.rembiz, "admin", "list", "person", "--data", r.data, "--format", "xlsx",
                    "--out", book], check=True)
    r.open("admin/import")
    form = r.first("form.admin-import")
    r.fill(form, "kind", "person")
    form.find_element(By.NAME, "file").send_keys(book)
    r.click("检查（不导入）", form)
    r.wait(lambda: len(r.css(".import-result tbody tr")) == 3, "the workbook's lines")
    cells = [td.text for td in r.css(".import-result td")]
    assert cells[0::2] == ["2", "3", "4"] and "0004" in cells[5], cells

    # The administrator's pages in Chinese, as a new administrator sees them.
    for kind in ("user", "rights/user%3Aboss", "department", "flow", "account", "rate",
                 "period", "standvalue", "optype", "optype/301", "iokm", "opkm"):
        r.open("admin/" + kind)
        r.shot("admin-zh-" + kind.replace("/", "-").replace("%3A", "-"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rembiz", required=True)
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    for path in (base.CHROMEDRIVER, base.CHROMIUM):
        if not os.path.exists(path):
            print("SKIPPED: %s is not installed" % path)
            return 77
    os.makedirs(args.shots, exist_ok=True)
    for old in os.listdir(args.shots):
        if old.endswith(".png"):
            os.remove(os.path.join(args.shots, old))
    started = time.monotonic()
    road = AdminRoad(args.rembiz, args.shots)
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
