// The console page of the HTTP service, compiled into the program: static HTML, CSS and
// script with no framework, served at /, /console.css and /console.js.
#include "app/console_page.h"

namespace rembiz::app {

// The page: login form, request editor and answer view.
const std::string_view kConsoleHtml = R"console(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Rembiz console</title>
<link rel="stylesheet" href="/console.css">
<script src="/console.js" defer></script>
</head>
<body>
<header>
  <h1>Rembiz <span>console</span></h1>
  <nav id="views" hidden>
    <button type="button" data-view="work" class="view">Requests</button>
    <button type="button" data-view="reports" class="view">Reports</button>
  </nav>
  <div id="who"></div>
  <button id="logout" type="button" hidden>Log out</button>
</header>
<main>
  <section id="login-panel" class="card" hidden>
    <h2>Log in</h2>
    <form id="login-form">
      <label>User <input name="user" autocomplete="username" required></label>
      <label>Password <input name="password" type="password" autocomplete="current-password"></label>
      <label>Account <input name="account" value="001"></label>
      <label>Fiscal year <input name="year" placeholder="this year" inputmode="numeric"></label>
      <label>Language
        <select name="language"><option>zh-CN</option><option>en-US</option></select>
      </label>
      <button type="submit">Log in</button>
      <p id="login-error" class="error-text" hidden></p>
    </form>
  </section>
  <section id="work" hidden>
    <div class="card">
      <div class="toolbar">
        <label>Class <select id="class"></select></label>
        <label>Example <select id="example"></select></label>
        <button id="send" type="button" title="Ctrl+Enter">Send</button>
      </div>
      <textarea id="request" spellcheck="false" wrap="off" aria-label="Request document"></textarea>
    </div>
    <div class="card">
      <div class="toolbar"><strong>Answer</strong><span id="status"></span></div>
      <div id="verdict" hidden></div>
      <pre id="answer"></pre>
    </div>
  </section>
  <section id="reports" class="card" hidden>
    <div class="toolbar">
      <label>Report <select id="report-kind">
        <option value="aging">Loan ageing</option>
        <option value="summary">Summary by voucher type</option>
      </select></label>
      <label>Dimension <select id="report-dimension"></select></label>
      <label class="aging-only">Cut-off <input id="report-cutoff" type="date"
        title="Loans before this date; empty: up to and including today"></label>
      <label class="summary-only">Vouchers <select id="report-source">
        <option value="0">Loans</option><option value="1">Claims</option>
      </select></label>
      <label class="summary-only"><input id="report-currency" type="checkbox"> By currency</label>
      <button id="report-run" type="button">Show</button>
      <button id="report-csv" type="button" disabled>Download CSV</button>
      <span id="report-status"></span>
    </div>
    <p id="report-error" class="error-text" hidden></p>
    <svg id="report-chart" role="img" aria-label="Chart of the report" hidden></svg>
    <div id="report-table-box"><table id="report-table"></table></div>
  </section>
</main>
</body>
</html>
)console";

// Its style sheet.
const std::string_view kConsoleCss = R"console(* { box-sizing: border-box; }
[hidden] { display: none !important; }
body { margin: 0; font: 14px/1.4 system-ui, sans-serif; background: #eef1f5; color: #1d2733; }
header { display: flex; align-items: center; gap: 16px; padding: 10px 20px;
         background: #1f3b57; color: #fff; }
header h1 { margin: 0; font-size: 18px; font-weight: 600; flex: 1; }
header h1 span { font-weight: 300; opacity: .8; }
#who { font-size: 13px; opacity: .9; }
main { padding: 16px 20px; }
.card { background: #fff; border: 1px solid #d5dbe3; border-radius: 6px; padding: 12px;
        display: flex; flex-direction: column; min-width: 0; }
#login-panel { max-width: 360px; margin: 40px auto; }
#login-panel h2 { margin: 0 0 12px; font-size: 16px; }
#login-form label { display: flex; justify-content: space-between; align-items: center;
                    margin-bottom: 8px; gap: 12px; }
#login-form input, #login-form select { width: 200px; }
#work { display: grid; grid-template-columns: 1fr 1fr; gap: 16px;
        height: calc(100vh - 90px); }
.toolbar { display: flex; align-items: center; gap: 12px; margin-bottom: 8px; flex-wrap: wrap; }
.toolbar strong { flex: 1; }
input, select, textarea, button { font: inherit; }
input, select { padding: 3px 6px; border: 1px solid #b9c3cf; border-radius: 4px; }
button { padding: 4px 14px; border: 0; border-radius: 4px; background: #2f6ea5; color: #fff;
         cursor: pointer; }
button:hover { background: #255a88; }
button:disabled { background: #8aa5bf; cursor: wait; }
header button { background: #3f6282; }
textarea, pre { flex: 1; margin: 0; padding: 8px; border: 1px solid #d5dbe3; border-radius: 4px;
                font: 12.5px/1.45 ui-monospace, "DejaVu Sans Mono", monospace; }
textarea { resize: none; background: #fbfcfd; }
pre { overflow: auto; background: #fbfcfd; white-space: pre; }
#status { font-size: 12px; color: #5b6775; }
#verdict { margin-bottom: 8px; padding: 6px 10px; border-radius: 4px; font-size: 13px; }
#verdict.ok { background: #e3f4e8; color: #1d6b34; border: 1px solid #b4dfc0; }
#verdict.error { background: #fde8e8; color: #9b1c1c; border: 1px solid #f2b8b8; }
#verdict.warn { background: #fff4de; color: #8a5a00; border: 1px solid #f0d39a; }
#verdict .id { font-family: ui-monospace, monospace; font-size: 12px; opacity: .8; }
pre.error { border-color: #f2b8b8; }
.error-text { color: #9b1c1c; }
.t { color: #1f5fa0; } .a { color: #8a4f00; } .v { color: #1d7a3a; } .x { color: #1d2733; }
.c { color: #8893a0; }
#views { display: flex; gap: 6px; }
#views .view { background: transparent; border: 1px solid #6f8fae; }
#views .view.active { background: #3f6282; }
#reports { gap: 10px; }
#reports .toolbar label { display: flex; gap: 6px; align-items: center; }
#reports.aging .summary-only, #reports.summary .aging-only { display: none; }
#report-status { font-size: 12px; color: #5b6775; }
#report-chart { width: 100%; max-width: 900px; height: 280px; }
#report-chart .bar { fill: #2f6ea5; }
#report-chart .axis { stroke: #8893a0; stroke-width: 1; }
#report-chart text { font-size: 11px; fill: #1d2733; }
#report-chart .value { font-size: 10px; fill: #5b6775; }
#report-table-box { overflow: auto; max-height: calc(100vh - 460px); }
#report-table { border-collapse: collapse; font-size: 13px; }
#report-table th, #report-table td { border: 1px solid #d5dbe3; padding: 3px 8px; white-space: nowrap; }
#report-table th { background: #eef1f5; font-weight: 600; }
#report-table td.right { text-align: right; font-variant-numeric: tabular-nums; }
#report-table tr.total td { font-weight: 600; background: #f6f8fa; }
)console";

// Its script: login, examples per class, sending, pretty-printing, error display.
const std::string_view kConsoleJs = R"console('use strict';
// The console of the rembiz service: log in, pick a class, start from an example request,
// send it and read the answer. Plain DOM and fetch; the session lives in an HttpOnly cookie.
const $ = (id) => document.getElementById(id);
let session = null;

const ROW = 'xmlns:z="#RowsetSchema"';
// Example requests per class; ${...} fields are filled from the session (year, business date,
// operator name) when the example is picked.
const EXAMPLES = {
  CPubMsg: [
    ['currencyget: currencies', (s) => `<req>
  <func name="currencyget"/>
</req>`],
    ['accget: account options', (s) => `<req>
  <func name="accget"/>
</req>`],
    ['vchnoget: next loan voucher number', (s) => `<req>
  <func name="vchnoget">
    <in>
      <type>EC01</type>
      <voucher ${ROW}><head><z:row dtLoanDate="${s.date}T00:00:00"/></head></voucher>
    </in>
  </func>
</req>`],
    ['ztget + authget: account and my rights', (s) => `<req>
  <func name="ztget"/>
  <func name="authget"/>
</req>`],
  ],
  CLoan: [
    ['getVouchListID: the last loan voucher', (s) => `<req>
  <func name="getVouchListID">
    <in><strAutoID/><Director>-1</Director></in>
  </func>
  <func name="vchgetloanheaddata"/>
  <func name="vchgetloanbodydata"/>
</req>`],
    ['savevouch: a new travel advance', (s) => `<req>
  <func name="savevouch">
    <in>
      <xml ${ROW}>
        <head><z:row strTypeCode="301" strVouchID="JK${s.month}9001" dtLoanDate="${s.date}T00:00:00"
            strDepartID="0301" strLoanID="0004" strBill="人民币" fltRate="1" dblMoney="1500"
            dblOldMoney="1500" strUsed="Trip to the Tianjin customer" strPersonID="${s.userName}"/></head>
        <body><row strBalanceID="1" dblMoney="1500"/></body>
      </xml>
    </in>
  </func>
  <func name="getVouchListID"><in><strAutoID/><Director>3</Director></in></func>
</req>`],
  ],
  CExpense: [
    ['getVouchListID: the last claim', (s) => `<req>
  <func name="getVouchListID">
    <in><strAutoID/><Director>-1</Director></in>
  </func>
</req>`],
    ['savevouch: a new travel claim', (s) => `<req>
  <func name="savevouch">
    <in>
      <xml ${ROW}>
        <head><z:row strTypeCode="201" strVouchID="ZC${s.month}9001" dtLoanDate="${s.date}T00:00:00"
            strDepartID="0301" strLoanID="0004" strBill="人民币" fltRate="1" dblMoney="700"
            dblOldMoney="700" strUsed="Tianjin customer visit" strPersonID="${s.userName}"/></head>
        <body>
          <row strIOItem="20101" strEZero="0102" dtBDate="${s.date}" dtEDate="${s.date}" dblVouch="1" dblNumber="1"
               dblMoney="300" strMemo="Hotel, one night"/>
          <row strIOItem="20102" dtBDate="${s.date}" dtEDate="${s.date}" dblVouch="2" dblNumber="1"
               dblMoney="400" strMemo="Train tickets"/>
        </body>
      </xml>
    </in>
  </func>
  <func name="getVouchListID"><in><strAutoID/><Director>3</Director></in></func>
</req>`],
  ],
  CQuery: [
    ['listloandata: the first page of loan vouchers', (s) => `<req>
  <func name="listloandata">
    <in>
      <page><current>0</current><rows>20</rows></page>
      <cond>
        <row name="dtloandate" fieldname="ec_loanvouch.dtloandate" fieldtype="1" value="${s.year}-01-01" type="5"/>
      </cond>
    </in>
  </func>
</req>`],
  ],
  CReport: [
    ['typecollectdata: loans by department and type', (s) => `<req>
  <func name="typecollectdata">
    <in>
      <page><current>0</current><rows>20</rows></page>
      <type>
        <row name="strtype" value="0"/>
        <row name="stritem" value="${s.language === 'en-US' ? 'Department' : '部门'}"/>
        <row name="strshow" value="0"/>
      </type>
    </in>
  </func>
</req>`],
  ],
  CAudit: [
    ['AuditVouch: approve one loan voucher', (s) => `<req>
  <func name="AuditVouch">
    <in>
      <EASTdata><task EAAID="1" remark="Approved"/></EASTdata>
      <strGUID>
        <Rows flag="1">
          <row strGUID="put the voucher GUID here" ts="0" strType="EC03" strVouchID="JK0001"/>
        </Rows>
      </strGUID>
    </in>
  </func>
</req>`],
    ['GetAudiState: approval state of a voucher', (s) => `<req>
  <func name="GetAudiState">
    <in><strGUID>put the voucher GUID here</strGUID><strType>EC03</strType></in>
  </func>
</req>`],
  ],
  CMakePZ: [
    ['makepz + getpzdata: draft ledger voucher of an approved claim', (s) => `<req>
  <func name="makepz">
    <in con="1">
      <pztype>记</pztype><pzdate>${s.date}</pzdate><blnTemp>1</blnTemp>
      <rows><row strtypecode="201" guid="put the claim GUID here" strvouchid="ZC0001"/></rows>
    </in>
  </func>
  <func name="getpzdata"><in><blnTemp>1</blnTemp></in></func>
</req>`],
    ['makepz: save the ledger voucher of an approved loan and claim', (s) => `<req>
  <func name="makepz">
    <in con="1">
      <pztype>记</pztype><pzdate>${s.date}</pzdate><blnTemp>0</blnTemp>
      <rows>
        <row strtypecode="301" guid="put the loan GUID here" ts="0" strvouchid="JK0001"/>
        <row strtypecode="201" guid="put the claim GUID here" ts="0" strvouchid="ZC0001"/>
      </rows>
    </in>
    <daily>
      <row strtypecode="301" guid="put the loan GUID here" ts="0"/>
      <row strtypecode="201" guid="put the claim GUID here" ts="0"/>
    </daily>
  </func>
</req>`],
    ['getpzdata: the lines of a saved ledger voucher', (s) => `<req>
  <func name="getpzdata"><in><strpzcode>记-${Number(s.date.slice(5, 7))}-1</strpzcode></in></func>
</req>`],
    ['cancelpz: void a saved ledger voucher', (s) => `<req>
  <func name="cancelpz">
    <in><rows><row pzguid="put the voucher link id here" strpzcode="记-3-1" iflag="" isignseq="1"/></rows></in>
  </func>
</req>`],
  ],
  CPzSet: [
    ['getiokm + getopkm: voucher account settings', (s) => `<req>
  <func name="getiokm"/>
  <func name="getopkm"/>
</req>`],
    ['gethb: merge options', (s) => `<req>
  <func name="gethb"/>
</req>`],
    ['saveiokm: an account for hotel costs in RMB', (s) => `<req>
  <func name="saveiokm">
    <in><row P="1" strOperatType="201" strIOItemCode="20101" strCurrency="人民币" strCode="660101" blnModiDire="1"/></in>
  </func>
</req>`],
  ],
};
// Master data: examples on the demo company; a change or deletion sends back the `ts` that a
// read answered for the row.
Object.assign(EXAMPLES, {
  COperation: [
    ['get: operation types', (s) => `<req>
  <func name="get"/>
</req>`],
    ['edit: add an operation type (code 203)', (s) => `<req>
  <func name="edit">
    <in>
      <row P="1" intType="支出" strName="会议费报销" strShowID="31" strPrintID="32"/>
    </in>
  </func>
</req>`],
    ['edit: change 302, delete 203', (s) => `<req>
  <func name="edit">
    <in>
      <row P="2" intType="借款" strCode="302" strName="备用金借款" strShowID="11" strPrintID="12"
           ts="ts of 302 from get"/>
      <row P="3" intType="支出" strCode="203" ts="ts of 203 from get"/>
    </in>
  </func>
</req>`],
  ],
  CChoice: [
    ['get: module options', (s) => `<req>
  <func name="get"/>
</req>`],
    ['edit: overdue and alert days, code levels', (s) => `<req>
  <func name="edit">
    <in intExpireDays="45" intAlertDays="10" strIOLevel="12222" blnAutoAlert="true"/>
  </func>
</req>`],
  ],
  CRPItem: [
    ['treeget + outputget: the item tree and its export', (s) => `<req>
  <func name="treeget"/>
  <func name="outputget"/>
</req>`],
    ['get: one item', (s) => `<req>
  <func name="get"><in><r strcode="20101"/></in></func>
</req>`],
    ['new: an item below 201', (s) => `<req>
  <func name="new"><in><r strcode="20104" strupcode="201" strname="餐费" strtypecode="201"/></in></func>
</req>`],
    ['edit: rename an item', (s) => `<req>
  <func name="edit"><in><r strcode="203" strupcode="2" strname="办公用品" strtypecode="202"
      ts="ts from get"/></in></func>
</req>`],
    ['del: delete an item', (s) => `<req>
  <func name="del"><in><r strcode="20104" strupcode="201" ts="ts from get"/></in></func>
</req>`],
  ],
  CDistrict: [
    ['treeget + outputget: the district tree and its export', (s) => `<req>
  <func name="treeget"/>
  <func name="outputget"/>
</req>`],
    ['get: one district', (s) => `<req>
  <func name="get"><in><r strcode="0201"/></in></func>
</req>`],
    ['new: a district below 01 (place grade 02)', (s) => `<req>
  <func name="new"><in><r strcode="0103" strupcode="01" strname="石家庄" strtypecode="02"/></in></func>
</req>`],
    ['edit: change a district\'s grade', (s) => `<req>
  <func name="edit"><in><r strcode="0203" strname="汕头" strtypecode="02" ts="ts from get"/></in></func>
</req>`],
    ['del: delete a district', (s) => `<req>
  <func name="del"><in><r strcode="0103" ts="ts from get"/></in></func>
</req>`],
  ],
  CPerson: [
    ['getdepart + getperlist: departments and the persons of 03', (s) => `<req>
  <func name="getdepart"/>
  <func name="getperlist"><in><strDepCode>03</strDepCode></in></func>
</req>`],
    ['getperbas + getperacc + getperson: one person', (s) => `<req>
  <func name="getperbas"><in><strPersonCode>0004</strPersonCode></in></func>
  <func name="getperacc"><in><strPersonCode>0004</strPersonCode></in></func>
  <func name="getperson"><in><strPersonCode>0004</strPersonCode><Show/></in></func>
</req>`],
    ['saveperbas: a grade for a person without settings', (s) => `<req>
  <func name="saveperbas">
    <in><strPersonCode>0007</strPersonCode><strGradeID>03</strGradeID><ts/></in>
  </func>
</req>`],
    ['saveperacc: add a bank account', (s) => `<req>
  <func name="saveperacc">
    <in>
      <strPersonCode>0006</strPersonCode>
      <row P="1" strBankAcc="6222020200006666" strBank="工商银行北京分行" blnDefault="1"/>
    </in>
  </func>
</req>`],
    ['saveperson: loan limits (days, number, amount)', (s) => `<req>
  <func name="saveperson">
    <in>
      <strPersonCode>0006</strPersonCode>
      <Rows ts="ts from getperson">
        <row blnCtrl="1" dblMoney="30" strCtrlType="提示"/>
        <row blnCtrl="1" dblMoney="2" strCtrlType="严格控制"/>
        <row blnCtrl="0"/>
      </Rows>
    </in>
  </func>
</req>`],
    ['outputget: every person with grade, account and limits', (s) => `<req>
  <func name="outputget"/>
</req>`],
  ],
  CStand: [
    ['getstand: the standards', (s) => `<req>
  <func name="getstand"/>
</req>`],
    ['getdepart + geteffect + getset: one standard', (s) => `<req>
  <func name="getdepart"><in><s GUID="{EC5D0003-0000-4000-8000-000000000003}"/></in></func>
  <func name="geteffect"><in><s GUID="{EC5D0003-0000-4000-8000-000000000003}"/></in></func>
  <func name="getset"><in><s GUID="{EC5D0003-0000-4000-8000-000000000003}"/></in></func>
</req>`],
    ['geteffectvalue: person grades, and a standard\'s receipt brackets', (s) => `<req>
  <func name="geteffectvalue"><in><s strItem="1"/></in></func>
  <func name="geteffectvalue">
    <in><s GUID="{EC5D0003-0000-4000-8000-000000000003}" strItem="4"/></in>
  </func>
</req>`],
    ['savestand: a new standard for office costs', (s) => `<req>
  <func name="savestand">
    <in><s><rows>
      <row P="1" strStandName="办公费标准" strIOCode="203" strControlType="严格控制"/>
    </rows></s></in>
  </func>
</req>`],
    ['saveeffectvalue: add a person grade', (s) => `<req>
  <func name="saveeffectvalue">
    <in><s strItem="1"><rows><row P="1" strName="总监"/></rows></s></in>
  </func>
</req>`],
    ['savedepart + saveeffect + saveset: set up a new standard', (s) => `<req>
  <func name="savedepart">
    <in><s GUID="GUID from getstand"><rows><row id="0201"/><row id="0202"/></rows></s></in>
  </func>
  <func name="saveeffect">
    <in><s GUID="GUID from getstand"><rows><row id="1"/></rows></s></in>
  </func>
  <func name="saveset">
    <in><s GUID="GUID from getstand"><rows>
      <row P="1" strPerID="01" dblMoney="800" dblRate="0"/>
      <row P="1" strPerID="02" dblMoney="500" dblRate="0"/>
      <row P="1" strPerID="03" dblMoney="300" dblRate="0"/>
    </rows></s></in>
  </func>
</req>`],
  ],
});
const SKELETON = (s) => `<req>
  <func name="">
    <in/>
  </func>
</req>`;

function esc(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
      .replace(/"/g, '&quot;');
}
function unescapeXml(text) {
  return text.replace(/&(lt|gt|amp|quot|apos|#x[0-9a-fA-F]+|#[0-9]+);/g, (m, e) => {
    const named = {lt: '<', gt: '>', amp: '&', quot: '"', apos: "'"};
    if (e in named) return named[e];
    return String.fromCodePoint(e[1] === 'x' ? parseInt(e.slice(2), 16) : parseInt(e.slice(1)));
  });
}

// A tolerant pretty printer: the answers use prefixes (rs:, z:) without always declaring them,
// which a strict XML parser refuses.
function xmlTokens(xml) {
  return xml.match(/<\?[\s\S]*?\?>|<!--[\s\S]*?-->|<!\[CDATA\[[\s\S]*?\]\]>|<![^>]*>|<[^>]*>|[^<]+/g)
      || [];
}
function tagHtml(tag) {
  const m = /^(<\/?)([^\s/>]+)([\s\S]*?)(\/?>)$/.exec(tag);
  if (!m || tag.startsWith('<?') || tag.startsWith('<!')) return `<span class="c">${esc(tag)}</span>`;
  const attrs = m[3].replace(/([^\s=]+)(\s*=\s*)("[^"]*"|'[^']*')|([^]+?)/g,
      (all, name, eq, value, other) => other !== undefined ? esc(other)
          : `<span class="a">${esc(name)}</span>${eq}<span class="v">${esc(value)}</span>`);
  return `<span class="t">${esc(m[1] + m[2])}</span>${attrs}<span class="t">${esc(m[4])}</span>`;
}
function prettyXml(xml) {
  const toks = xmlTokens(xml);
  const lines = [];
  let depth = 0;
  const pad = () => '  '.repeat(Math.max(depth, 0));
  const isOpen = (t) => t && /^<[^/?!]/.test(t) && !t.endsWith('/>');
  const isClose = (t) => t && t.startsWith('</');
  const isText = (t) => t !== undefined && !t.startsWith('<');
  for (let i = 0; i < toks.length; i++) {
    const t = toks[i];
    if (isClose(t)) {
      depth--;
      lines.push(pad() + tagHtml(t));
    } else if (isOpen(t)) {
      if (isText(toks[i + 1]) && isClose(toks[i + 2])) {
        lines.push(pad() + tagHtml(t) + `<span class="x">${esc(toks[i + 1])}</span>` +
                   tagHtml(toks[i + 2]));
        i += 2;
      } else if (isClose(toks[i + 1])) {
        lines.push(pad() + tagHtml(t) + tagHtml(toks[i + 1]));
        i += 1;
      } else {
        lines.push(pad() + tagHtml(t));
        depth++;
      }
    } else if (t.startsWith('<')) {
      lines.push(pad() + tagHtml(t));
    } else if (t.trim()) {
      lines.push(pad() + `<span class="x">${esc(t.trim())}</span>`);
    }
  }
  return lines.join('\n');
}

// What the answer means: the whole document replaced by an error document, or errors of single
// operations under their `out`.
function judge(status, text) {
  const root = (xmlTokens(text).find((t) => /^<[^?!/]/.test(t)) || '').match(/^<([^\s/>]+)/);
  const pick = (body, name) => {
    const m = new RegExp(`<${name}>([\\s\\S]*?)</${name}>`).exec(body);
    return m ? unescapeXml(m[1]) : '';
  };
  if (root && root[1] === 'error') {
    return {kind: 'error', title: 'Error document', id: pick(text, 'id'), text: pick(text, 'text')};
  }
  if (status >= 400) return {kind: 'error', title: `HTTP ${status}`, id: '', text: text};
  const failed = [...text.matchAll(/<out>\s*<(error|err)>([\s\S]*?)<\/\1>/g)];
  if (failed.length) {
    const first = failed[0][2];
    return {kind: 'warn', title: `${failed.length} operation(s) answered with an error`,
            id: pick(first, 'id'), text: pick(first, 'text') || pick(first, 'msg')};
  }
  return {kind: 'ok', title: 'Answered', id: '', text: ''};
}

async function call(path, options) {
  const started = performance.now();
  const res = await fetch(path, Object.assign({credentials: 'same-origin'}, options || {}));
  const text = await res.text();
  return {status: res.status, text, ms: Math.round(performance.now() - started)};
}
function attrsOf(text) {
  const out = {};
  const tag = (/<[A-Za-z][^>]*>/.exec(text) || [''])[0];
  for (const m of tag.matchAll(/([A-Za-z_][\w.-]*)="([^"]*)"/g)) out[m[1]] = unescapeXml(m[2]);
  return out;
}

function showSession(info) {
  session = info;
  $('login-panel').hidden = !!info;
  $('work').hidden = !info;
  $('logout').hidden = !info;
  $('views').hidden = !info;
  showView(currentView);
  $('who').textContent = info ? `${info.userName} (${info.user}) · account ${info.account}` +
      `${info.accountName ? ' ' + info.accountName : ''} · ${info.year} · ${info.language}` : '';
}
function sessionValues() {
  const date = session.loginDate || `${session.year}-01-01`;
  return {year: session.year, date, month: date.slice(0, 7).replace('-', ''),
          userName: session.userName, language: session.language};
}
function fillExamples() {
  const list = EXAMPLES[$('class').value] || [];
  const select = $('example');
  select.replaceChildren(...list.map(([label], i) => new Option(label, i)),
                         new Option('empty request', 'skeleton'));
  pickExample();
}
function pickExample() {
  const list = EXAMPLES[$('class').value] || [];
  const chosen = $('example').value === 'skeleton' ? SKELETON : list[$('example').value][1];
  $('request').value = chosen(sessionValues());
}
async function loadClasses() {
  const r = await call('/api/classes');
  const names = [...r.text.matchAll(/<class name="([^"]+)"/g)].map((m) => m[1]);
  $('class').replaceChildren(...names.map((n) => new Option(n, n)));
  if (names.includes('CPubMsg')) $('class').value = 'CPubMsg';
  fillExamples();
}

async function send() {
  const button = $('send');
  button.disabled = true;
  $('status').textContent = 'sending…';
  try {
    const r = await call('/api/' + encodeURIComponent($('class').value), {
      method: 'POST', headers: {'Content-Type': 'application/xml; charset=utf-8'},
      body: $('request').value});
    if (r.status === 401) {
      showSession(null);
      $('login-error').textContent = judge(r.status, r.text).text || 'Please log in again.';
      $('login-error').hidden = false;
      return;
    }
    const verdict = judge(r.status, r.text);
    $('status').textContent = `HTTP ${r.status} · ${r.ms} ms · ${r.text.length} bytes`;
    const box = $('verdict');
    box.className = verdict.kind;
    box.replaceChildren(document.createTextNode(verdict.title));
    if (verdict.text || verdict.id) {
      box.append(document.createTextNode(': ' + verdict.text + ' '));
      const id = document.createElement('span');
      id.className = 'id';
      id.textContent = verdict.id;
      box.append(id);
    }
    box.hidden = false;
    $('answer').className = verdict.kind === 'error' ? 'error' : '';
    $('answer').innerHTML = prettyXml(r.text);
  } catch (e) {
    $('status').textContent = 'no answer: ' + e;
  } finally {
    button.disabled = false;
  }
}

async function login(fields) {
  const r = await call('/api/login', {method: 'POST', body: new URLSearchParams(fields)});
  if (r.status !== 200) {
    $('login-error').textContent = judge(r.status, r.text).text || `HTTP ${r.status}`;
    $('login-error').hidden = false;
    showSession(null);
    return false;
  }
  $('login-error').hidden = true;
  showSession(attrsOf(r.text));
  await loadClasses();
  return true;
}

// ---------------------------------------------------------------------------------------------
// Reports: the ageing analysis and the summary by voucher type of CReport, drawn by the module
// that the self-service pages share (/app/report_view.js): a table with its totals row and a
// bar chart, downloadable as CSV.
let currentView = 'work';
let reportView = null;
async function reports() {
  if (!reportView) reportView = await import('/app/report_view.js');
  return reportView;
}
function showView(view) {
  currentView = view;
  const logged = !!session;
  $('work').hidden = !logged || view !== 'work';
  $('reports').hidden = !logged || view !== 'reports';
  for (const b of document.querySelectorAll('#views .view')) {
    b.classList.toggle('active', b.dataset.view === view);
  }
  if (logged && view === 'reports' && !$('report-dimension').options.length) setUpReports();
}

let agePeriods = '';
let lastReport = null;

async function fillDimensions() {
  const rv = await reports();
  const kind = $('report-kind').value;
  $('reports').className = 'card ' + kind;
  $('report-dimension').replaceChildren(
      ...rv.DIMENSIONS[rv.reportLanguage(session.language)][kind].map((d) => new Option(d, d)));
}
async function setUpReports() {
  await fillDimensions();
  // The ageing periods as the host keeps them (type 1).
  const r = await call('/api/CReport', {method: 'POST', body:
      '<req><func name="ageget"><in><agetype>1</agetype></in></func></req>'});
  agePeriods = (await reports()).agePeriods(r.text);
}

async function runReport() {
  const button = $('report-run');
  button.disabled = true;
  $('report-error').hidden = true;
  $('report-status').textContent = 'loading…';
  try {
    const rv = await reports();
    const r = await call('/api/CReport', {method: 'POST',
        headers: {'Content-Type': 'application/xml; charset=utf-8'},
        body: rv.reportRequest({kind: $('report-kind').value, dimension: $('report-dimension').value,
                                cutoff: $('report-cutoff').value, periods: agePeriods,
                                source: $('report-source').value,
                                byCurrency: $('report-currency').checked})});
    const report = rv.readReport(r.text, r.status);
    const total = rv.TOTAL[rv.reportLanguage(session.language)];
    rv.drawTable($('report-table'), report, total);
    rv.drawChart($('report-chart'), report);
    lastReport = {report, total};
    $('report-csv').disabled = false;
    $('report-status').textContent = `${report.rows.length} rows · page ` +
        `${report.current + 1} of ${report.count}`;
  } catch (e) {
    lastReport = null;
    $('report-csv').disabled = true;
    $('report-table').replaceChildren();
    $('report-chart').setAttribute('hidden', '');
    $('report-status').textContent = '';
    $('report-error').textContent = e.message;
    $('report-error').hidden = false;
  } finally {
    button.disabled = false;
  }
}

async function downloadCsv() {
  if (!lastReport) return;
  const rv = await reports();
  rv.download(rv.reportCsv(lastReport.report, lastReport.total),
              `${$('report-kind').value}-${$('report-dimension').value}.csv`,
              'text/csv;charset=utf-8');
}

function bindReports() {
  for (const b of document.querySelectorAll('#views .view')) {
    b.addEventListener('click', () => showView(b.dataset.view));
  }
  $('report-kind').addEventListener('change', fillDimensions);
  $('report-run').addEventListener('click', runReport);
  $('report-csv').addEventListener('click', downloadCsv);
}

async function start() {
  $('login-form').addEventListener('submit', (e) => {
    e.preventDefault();
    login(Object.fromEntries(new FormData(e.target)));
  });
  $('logout').addEventListener('click', async () => {
    await call('/api/logout', {method: 'POST'});
    showSession(null);
  });
  $('class').addEventListener('change', fillExamples);
  $('example').addEventListener('change', pickExample);
  $('send').addEventListener('click', send);
  $('request').addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) send();
  });
  bindReports();

  const r = await call('/api/session');
  if (r.status === 200) {
    showSession(attrsOf(r.text));
    await loadClasses();
  } else {
    showSession(null);
  }
  // /?demo=1 logs in as the demo user and sends one example (class= and example= choose it).
  const params = new URLSearchParams(location.search);
  // /?demo=1&view=reports shows a report at once (report=aging|summary, dimension=…).
  if (params.get('demo') === '1' && params.get('view') === 'reports') {
    if (!session && !(await login({user: 'demo', password: 'demo'}))) return;
    showView('reports');
    await setUpReports();
    if (params.get('report') === 'summary') $('report-kind').value = 'summary';
    await fillDimensions();
    const dimension = params.get('dimension');
    if (dimension && [...$('report-dimension').options].some((o) => o.value === dimension)) {
      $('report-dimension').value = dimension;
    }
    if (params.get('cutoff')) $('report-cutoff').value = params.get('cutoff');
    await runReport();
    return;
  }
  if (params.get('demo') === '1') {
    if (!session && !(await login({user: 'demo', password: 'demo'}))) return;
    const cls = params.get('class') || 'CPubMsg';
    if ([...$('class').options].some((o) => o.value === cls)) $('class').value = cls;
    fillExamples();
    const example = params.get('example');
    if (example && [...$('example').options].some((o) => o.value === example)) {
      $('example').value = example;
      pickExample();
    }
    await send();
  }
}
start();
)console";

}  // namespace rembiz::app
