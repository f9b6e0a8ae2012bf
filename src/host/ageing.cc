#include "host/ageing.h"

#include <optional>
#include <vector>

#include "db/text.h"
#include "host/errors.h"
#include "host/service_sql.h"
#include "xml/document.h"
#include "xml/escape.h"

namespace rembiz::host {
namespace {

using xml::XmlEscape;

constexpr size_t kMaxName = 40;
constexpr size_t kMaxType = 20;

struct Period {
  std::optional<int64_t> days;  // open when missing
  std::string name;
};

struct PeriodSet {
  std::string type;
  std::vector<Period> periods;
};

bool IsCode(std::string_view text, size_t max) {
  if (text.empty() || text.size() > max) return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\'') return false;
  }
  return true;
}

std::optional<int64_t> WholeDays(const std::string& text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return std::stoll(text);
}

class TableAgeing : public Ageing {
 public:
  std::string getAge(db::Connection& cn, std::string_view system_id,
                     std::string_view type) override {
    if (!IsCode(system_id, 10) || !IsCode(type, kMaxType)) {
      Raise(kErrBusiness, "Rembiz.Report.AgeBadType");
    }
    db::Recordset rs = cn.Execute(
        "select iNo, iDays, cName from Host_AgePeriod where cSysId = " + SqlText(system_id) +
        " and cAgeType = " + SqlText(type) + " order by iNo");
    std::string out =
        "<age systemid='" + XmlEscape(system_id) + "' type='" + XmlEscape(type) + "'>";
    for (; !rs.Eof(); rs.MoveNext()) {
      out += "<row no='" + rs.Text("iNo") + "' cdays='" + rs.Text("iDays") + "' name='" +
             XmlEscape(rs.Text("cName")) + "'/>";
    }
    return out + "</age>";
  }

  void SaveAge(db::Connection& cn, std::string_view system_id,
               std::string_view definition_xml) override {
    if (!IsCode(system_id, 10)) Raise(kErrBusiness, "Rembiz.Report.AgeBadType");
    std::vector<PeriodSet> sets = Read(definition_xml);

    bool own = !cn.InTransaction();
    if (own) cn.BeginTrans();
    try {
      for (const PeriodSet& set : sets) {
        std::string key =
            " where cSysId = " + SqlText(system_id) + " and cAgeType = " + SqlText(set.type);
        cn.Execute("delete from Host_AgePeriod" + key);
        int64_t no = 0;
        for (const Period& period : set.periods) {
          cn.Execute("insert into Host_AgePeriod (cSysId, cAgeType, iNo, iDays, cName) values (" +
                     SqlText(system_id) + ", " + SqlText(set.type) + ", " + std::to_string(++no) +
                     ", " + (period.days ? std::to_string(*period.days) : "null") + ", " +
                     SqlText(period.name) + ")");
        }
      }
      if (own) cn.CommitTrans();
    } catch (const ComError&) {
      if (own) cn.RollbackTrans();
      throw;
    }
  }

 private:
  static std::vector<PeriodSet> Read(std::string_view definition_xml) {
    xml::Document doc;
    if (!doc.LoadXml(definition_xml) || doc.DocumentElement().IsNull()) {
      Raise(kErrBusiness, "Rembiz.Report.AgeBadDocument");
    }
    std::vector<PeriodSet> sets;
    xml::Node root = doc.DocumentElement();
    std::vector<xml::Node> elements;
    if (!root.Children("row").empty()) {
      elements.push_back(root);
    } else {
      for (const xml::Node& child : root.Children("age")) elements.push_back(child);
    }
    if (elements.empty()) Raise(kErrBusiness, "Rembiz.Report.AgeBadDocument");
    for (const xml::Node& element : elements) {
      PeriodSet set;
      set.type = element.HasAttr("type") ? db::Trim(element.Attr("type")) : "1";
      if (!IsCode(set.type, kMaxType)) Raise(kErrBusiness, "Rembiz.Report.AgeBadType");
      std::vector<xml::Node> rows = element.Children("row");
      if (rows.empty()) Raise(kErrBusiness, "Rembiz.Report.AgeBadDocument");
      std::optional<int64_t> previous;
      for (size_t i = 0; i < rows.size(); ++i) {
        Period period;
        period.name =
            db::Trim(rows[i].HasAttr("name") ? rows[i].Attr("name") : rows[i].Attr("cname"));
        std::string days = db::Trim(rows[i].Attr("cdays"));
        std::string number = std::to_string(i + 1);
        if (period.name.empty() || period.name.size() > kMaxName * 3) {
          Raise(kErrBusiness, "Rembiz.Report.AgeBadName", number);
        }
        if (!days.empty()) {
          period.days = WholeDays(days);
          if (!period.days || (previous && *period.days <= *previous)) {
            Raise(kErrBusiness, "Rembiz.Report.AgeBadBound", number);
          }
          previous = period.days;
        } else if (i + 1 != rows.size()) {
          Raise(kErrBusiness, "Rembiz.Report.AgeBadBound", number);
        }
        set.periods.push_back(std::move(period));
      }
      sets.push_back(std::move(set));
    }
    return sets;
  }
};

}  // namespace

std::unique_ptr<Ageing> CreateAgeing() { return std::make_unique<TableAgeing>(); }

}  // namespace rembiz::host
