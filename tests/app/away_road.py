#!/usr/bin/python3
"""The "while I am away" panel of the approver's inbox in a real browser: the approver names a
substitute, a refused one says why, the substitute sees the loan waiting and approves it for the
approver, and the history names both. Screenshots in both languages and at phone width. Exits 77
(skipped) without Selenium, ChromeDriver or Chromium (see self_service_road.py)."""

import argparse
import datetime
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from self_service_road import Road  # noqa: E402  (exits 77 without Selenium)

from selenium.webdriver.common.by import By  # noqa: E402

LOAN = "{A7A70001-0000-4000-8000-000000000001}"


def execute(r, statement):
    subprocess.run([r.rembiz, "sql", "--data", r.data, statement], check=True,
                   stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rembiz", required=True)
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    os.makedirs(args.shots, exist_ok=True)
    try:
        r = Road(args.rembiz, args.shots)
    except Exception as e:  # no browser to drive
        print("SKIPPED: %s" % e)
        return 77
    try:
        today = datetime.date.today()
        # A submitted loan waiting at the approver's step.
        execute(r, "insert into EC_LoanVouch (GUID, strTypeCode, strVouchID, dtLoanDate, "
                "strDepartID, strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, "
                "strPersonID, blnAudi) values ('%s', '301', 'JK-AWAY', '%s', '0201', '0002', "
                "'人民币', 1, 600, 600, 'fair', 'Demo Admin', 1)" % (LOAN, today.isoformat()))
        execute(r, "insert into EC_LoanVouch_Sub (MGuid, strBalanceID, dblMoney) values "
                "('%s', '1', 600)" % LOAN)
        # The substitute needs the right to approve loans: delegation passes work, not rights.
        for task in ("EC0202", "EC020201"):
            execute(r, "insert into QDSystem..UA_HoldAuth (cAcc_Id, iYear, cUser_Id, iIsUser, "
                    "cAuth_Id) values ('001', %d, 'clerk', 1, '%s')" % (today.year, task))
        execute(r, "insert into Host_FlowInstance (cCardNumber, cVouchGUID, cVouchCode, iFlowId, "
                "iCurStep, iState, iRound, cEAdata, cDepCode, cTypeCode, mAmount, cStarter_Id) "
                "select '45', '%s', 'JK-AWAY', iFlowId, min(iStep), 0, 1, '<EAdata/>', '0201', "
                "'301', 600, 'demo' from Host_FlowStep where iFlowId = (select min(iFlowId) "
                "from Host_Flow where cCardNumber = '45') group by iFlowId" % LOAN)

        r.login("approver")
        r.open("inbox")
        form = r.first("form.away")
        # Oneself is refused with the service's reason.
        r.fill(form, "substitute", "approver")
        form.find_element(By.CSS_SELECTOR, "button[type=submit]").click()
        assert "yourself" in r.wait_message("error"), r.message()
        form = r.first("form.away")
        r.fill(form, "substitute", "clerk")
        r.driver.execute_script(
            "arguments[0].value = arguments[1]", form.find_element(By.NAME, "to"),
            (today + datetime.timedelta(days=3)).isoformat())
        r.fill(form, "remark", "trade fair")
        form.find_element(By.CSS_SELECTOR, "button[type=submit]").click()
        r.wait_message("info")
        row = r.one("select cUser_Id, cSubstitute_Id, dFrom, dTo from Host_Delegation")
        assert row == {"cUser_Id": "approver", "cSubstitute_Id": "clerk",
                       "dFrom": today.isoformat(),
                       "dTo": (today + datetime.timedelta(days=3)).isoformat()}, row
        panel = "//form[contains(@class, 'away')]/.."
        r.wait(lambda: "Carl Clerk" in r.driver.find_element(By.XPATH, panel).text,
               "the delegation listed")
        r.shot("approver-away-en")
        r.driver.set_window_size(390, 844)
        try:
            r.open("inbox")
            r.first("form.away")
            r.wide_enough("away at 390")
            r.driver.execute_script(
                "document.querySelector('form.away').scrollIntoView({block: 'end'})")
            r.shot("approver-away-en-390")
        finally:
            r.driver.set_window_size(1280, 1000)

        # The substitute sees the loan and approves it for the approver.
        r.login("clerk", "zh-CN")
        r.open("inbox")
        r.first("a[href^='#/review/loan/']", what="the loan in the clerk's inbox").click()
        r.first("form.decision button[type=submit]").click()
        r.wait_message("info")
        row = r.one("select cUser_Id, cForUser_Id, cForUser_Name from Host_FlowRecord")
        assert row == {"cUser_Id": "clerk", "cForUser_Id": "approver",
                       "cForUser_Name": "Anna Approver"}, row
        # The history names both.
        loan_id = r.one("select AutoID from EC_LoanVouch where strVouchID = 'JK-AWAY'")["AutoID"]
        r.open("review/loan/" + loan_id)
        r.wait(lambda: "Carl Clerk（代Anna Approver）" in r.first("main").text, "both names")
        r.driver.execute_script("document.querySelector('main section:last-of-type')"
                                ".scrollIntoView({block: 'end'})")
        r.shot("clerk-history-zh")
        r.open("inbox")
        r.wait(lambda: "Anna Approver" in r.driver.find_element(By.XPATH, panel).text,
               "the approver named in the clerk's panel")
        r.driver.execute_script(
            "document.querySelector('form.away').scrollIntoView({block: 'end'})")
        r.shot("clerk-away-zh")
        r.driver.set_window_size(390, 844)
        try:
            r.open("inbox")
            r.first("form.away")
            r.wide_enough("away at 390 zh")
            r.driver.execute_script(
                "document.querySelector('form.away').scrollIntoView({block: 'end'})")
            r.shot("clerk-away-zh-390")
        finally:
            r.driver.set_window_size(1280, 1000)
        print("ok")
        return 0
    finally:
        r.close()


if __name__ == "__main__":
    sys.exit(main())
