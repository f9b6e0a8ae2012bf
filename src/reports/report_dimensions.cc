#include "reports/report_dimensions.h"

#include "db/text.h"
#include "frame/convert.h"
#include "frame/sql_helpers.h"
#include "host/errors.h"
#include "host/messages.h"

namespace rembiz::reports {
namespace {

using frame::XmlEscape;
using host::MessageText;

std::string Attr(std::string_view name, std::string_view value) {
  return " " + std::string(name) + "='" + XmlEscape(value) + "'";
}

// One column of the layout.
std::string Column(std::string_view name, std::string_view text, int width, std::string_view align,
                   bool total = false) {
  return "<row" + Attr("name", name) + Attr("text", text) + Attr("width", std::to_string(width)) +
         Attr("align", align) + (total ? " total='1'" : "") + "/>";
}

}  // namespace

std::string Dimension::GroupColumns() const {
  return item ? class_column + "," + code_column : code_column;
}

std::string Dimension::NotNull() const {
  std::string out = " and " + code_column + " is not null";
  if (item) out += " and " + class_column + " is not null";
  return out;
}

std::string Dimension::SelectGroup() const {
  return (item ? class_column + " as cclasscode," : std::string()) + code_column + " as ccode";
}

std::string Dimension::WorkKey(bool currency) const {
  std::string key = item ? "w.cclasscode+'|'+w.ccode" : "w.ccode";
  return currency ? key + "+'|'+isnull(w.cexchname,'')" : key;
}

std::string Dimension::GroupFormat() const {
  std::string code = MessageText("Q7.Rembiz.Web.0612");
  std::string name_title = MessageText("Q7.Rembiz.Web.0613");
  std::string printtext = Attr("printtext", code + "," + name_title);
  std::string group = "<row name=''" + Attr("text", title) + " printname='ccode,cname'" +
                      printtext + ">" + Column("ccode", code, 800, "left") +
                      Column("cname", name_title, 1800, "left") + "</row>";
  if (!item) return group;
  // An item is shown under its class.
  return "<row name=''" + Attr("text", MessageText("Q7.Rembiz.0131")) +
         " printname='cclasscode,cclassname'" + printtext + ">" +
         Column("cclasscode", code, 600, "left") + Column("cclassname", name_title, 1300, "left") +
         "</row>" + group;
}

Dimension RequestDimension(const xml::Node& func, std::string_view head, bool summary,
                           db::Connection& cn) {
  std::string h(head);
  Dimension d;
  d.title = db::Trim(func.SelectSingleNode("in/type/row[@name='stritem']").Attr("value"));
  auto is = [&](std::string_view key) { return !d.title.empty() && d.title == MessageText(key); };
  if (is("Q7.Rembiz.Web.0624")) {
    d.code_column = h + ".strdepartid";
    d.name_joins = " left join department on (department.cdepcode=w.ccode)";
    d.name = "department.cdepname";
  } else if (summary && is("Q7.Rembiz.0143")) {
    d.code_column = "convert(varchar(10)," + h + ".dtloandate,120)";
    d.name = "''";
  } else if (is(summary ? "Q7.Rembiz.0146" : "Q7.Rembiz.0134")) {
    d.code_column = h + ".strloanid";
    d.name_joins = " left join person on (person.cpersoncode=w.ccode)";
    d.name = "person.cpersonname";
  } else if (is("Q7.Rembiz.0135")) {
    d.code_column = "EC_PersonCtrl.strGradeID";
    d.source_joins =
        " left join EC_PersonCtrl on (EC_PersonCtrl.strPersonCode=" + h + ".strloanid)";
    d.name_joins =
        " left join EC_EISet_NUStand on (EC_EISet_NUStand.intEICode=1 and "
        "EC_EISet_NUStand.strEICode=w.ccode)";
    d.name = "EC_EISet_NUStand.strEIName";
  } else if (is("Q7.Rembiz.0131")) {
    d.code_column = h + ".stritemclassid";
    d.name_joins = " left join fitem on (fitem.citem_class=w.ccode)";
    d.name = "fitem.citem_name";
  } else if (is("Q7.Rembiz.Web.0634")) {
    d.item = true;
    d.class_column = h + ".stritemclassid";
    d.code_column = h + ".stritemid";
    d.name_joins = " left join fitem on (fitem.citem_class=w.cclasscode) left join " +
                   frame::ItemSourceSql("", cn) +
                   " on (fitems.citem_class=w.cclasscode and fitems.citemcode=w.ccode)";
    d.class_name = "fitem.citem_name";
    d.name = "fitems.citemname";
  } else if (is("Q7.Rembiz.Web.0635")) {
    d.code_column = h + ".strbuditemid";
    d.name_joins = " left join BG_Item on (BG_Item.citemcode=w.ccode)";
    d.name = "BG_Item.citemname";
  } else {
    Raise(kErrBusiness, "Q7.Rembiz.0343");
  }
  return d;
}

}  // namespace rembiz::reports
