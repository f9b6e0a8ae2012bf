#!/usr/bin/python3
"""The notices in a real browser: the header's badge counts the operator's unread notices, the
list words them in the page's language with a link to each voucher, and marking them read
clears the badge; the administrator registers a webhook and reads the delivery log. Both
languages, at 390 px and on a desktop, with screenshots. Exits 77 (skipped) without Selenium,
ChromeDriver or Chromium."""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from self_service_road import CHROMEDRIVER, CHROMIUM, Road  # noqa: E402 (exits 77 itself)


def write(r, statement):
    subprocess.run([r.rembiz, "sql", "--data", r.data, statement], check=True,
                   stdout=subprocess.DEVNULL)


def add_notices(r):
    # As the approval and the reminders write them: a voucher waiting, one rejected, a loan due.
    year = time.strftime("%Y")
    write(r, "insert into EC_ExpenVouch (GUID, strTypeCode, strVouchID, dtLoanDate, strDepartID, "
          "strLoanID, strBill, fltRate, dblMoney, dblOldMoney, strUsed, strPersonID, blnAudi) "
          "values ('{AD000091-0000-4000-8000-000000000091}', '201', 'ZC0091', '%s-03-06', '01', "
          "'0002', '人民币', 1, 1200, 1200, 'hotel', 'Demo Admin', 1)" % year)
    claim = r.one("select AutoID, GUID, strVouchID from EC_ExpenVouch")
    values = [
        ("waiting", "47", claim["GUID"], claim["strVouchID"], "Demo Admin", "部门经理", None,
         "1200", None),
        ("rejected", "47", claim["GUID"], claim["strVouchID"], "Mike Manager", None,
         "发票缺失 / receipt missing", "1200", None),
        ("duesoon", "45", None, "JK0007", None, None, None, "500", "2026-03-01"),
    ]
    for kind, card, guid, code, actor, step, remark, amount, due in values:
        text = lambda v: "null" if v is None else "'" + v.replace("'", "''") + "'"
        write(r, "insert into EC_Notice (cUser_Id, cKind, cCardNumber, cVouchGUID, cVouchCode, "
              "cActor, cStep, cRemark, mAmount, dDue) values ('approver', '%s', '%s', %s, '%s', "
              "%s, %s, %s, %s, %s)" % (kind, card, text(guid), code, text(actor), text(step),
                                       text(remark), amount, text(due)))
    return claim


def badge(r):
    el = r.css("#notice-count")[0]
    return "" if el.get_attribute("hidden") is not None else el.text


def walk(r):
    claim = add_notices(r)
    for language, width in (("zh-CN", 390), ("en-US", 390), ("zh-CN", 1280)):
        write(r, "update EC_Notice set bRead = 0")
        r.driver.set_window_size(width, 844 if width == 390 else 1000)
        r.login("approver", language)
        r.wait(lambda: badge(r) == "3", "the badge counts 3 unread")
        r.open("notices")
        items = r.wait(lambda: r.css("li.notice.unread"), "the notices")
        assert len(items) == 3, len(items)
        text = r.css("ul.notices")[0].text
        assert claim["strVouchID"] in text and "JK0007" in text, text
        assert ("等待您审批" if language == "zh-CN" else "waits for your approval") in text, text
        # The waiting voucher opens in the approver's review.
        link = r.css("li.notice a.notice-subject")[-1].get_attribute("href")
        assert link.endswith("#/review/claim/" + claim["AutoID"]), link
        r.wide_enough("notices-" + language)
        r.shot("notices-%s-%d" % (language, width))
        # Reading one from its link: it opens the voucher and counts as read.
        r.css("li.notice a.notice-subject")[-1].click()
        r.wait(lambda: "#/review/claim/" in r.driver.current_url, "the voucher opened")
        r.wait(lambda: badge(r) == "2", "the badge counts 2")
        r.open("notices")
        r.click("全部标为已读" if language == "zh-CN" else "Mark all read")
        r.wait(lambda: badge(r) == "" and not r.css("li.notice.unread"), "all read")
        assert r.one("select count(*) as n from EC_Notice where bRead = 0")["n"] == "0"
        r.shot("notices-read-%s-%d" % (language, width))

    # The administrator's webhooks and their delivery log.
    r.driver.set_window_size(390, 844)
    r.login("demo", "zh-CN")
    r.open("admin/webhook")
    form = r.first("main form")
    # A local address where nobody listens: its delivery fails and is logged.
    r.fill(form, "url", "http://127.0.0.1:9/rembiz")
    r.fill(form, "events", "submitted, approved,paid")
    r.fill(form, "secret", "a-long-secret")
    r.click("添加", form) if any(b.text == "添加" for b in r.css("button", form)) else \
        form.find_element("css selector", "button[type=submit]").click()
    r.wait(lambda: r.sql("select cEvents from EC_Webhook"), "the webhook saved")
    assert r.one("select cEvents, cSecret, bActive from EC_Webhook") == {
        "cEvents": "submitted,approved,paid", "cSecret": "a-long-secret", "bActive": "True"}
    r.open("admin/webhook")
    assert "a-long-secret" not in r.driver.page_source
    r.wide_enough("webhooks")
    r.shot("webhooks-zh-CN-390")
    write(r, "insert into EC_Outbox (cChannel, iWebhookId, cEvent, cPayload) values ('webhook', "
             "1, 'paid', '{}')")
    sent = subprocess.run([r.rembiz, "outbox", "--data", r.data], capture_output=True, text=True)
    assert sent.returncode == 1 and "1 to try again" in sent.stdout, sent.stdout + sent.stderr
    r.open("admin/webhookdelivery")
    log = r.wait(lambda: r.css("main table.cards tbody tr"), "the delivery log")
    assert "paid" in log[0].text and "127.0.0.1:9" in log[0].text, log[0].text
    r.wide_enough("deliveries")
    r.shot("deliveries-zh-CN-390")


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
    started = time.monotonic()
    road = Road(args.rembiz, args.shots)
    try:
        walk(road)
    finally:
        road.close()
    print("the notices' pages took %.1f s; screenshots in %s" % (time.monotonic() - started,
                                                                 args.shots))
    return 0


if __name__ == "__main__":
    sys.exit(main())
