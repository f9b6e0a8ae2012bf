#include "host/budget_service.h"

#include <algorithm>

#include "db/money.h"
#include "host/messages.h"
#include "host/service_sql.h"

namespace rembiz::host {
namespace {

// Amounts are money: differences below half a cent do not count.
constexpr double kCent = 0.005;

class TableBudgetService : public BudgetService {
 public:
  bool Init(db::Connection& cn) override {
    cn_ = &cn;
    error_.clear();
    return true;
  }

  bool IsActive(std::string_view system_id) override {
    return Guard([&] {
      if (!Active(system_id)) {
        error_ = MessageText("Rembiz.Host.BudgetOff", "", system_id);
        return false;
      }
      return true;
    });
  }

  bool GetPort(std::string_view item, std::vector<BudgetDimension>* dimensions) override {
    return Guard([&] {
      if (!ItemExists(item)) {
        error_ = MessageText("Rembiz.Host.BudgetNoItem", "", item);
        return false;
      }
      *dimensions = Dimensions(item);
      return true;
    });
  }

  bool CheckBudget(const BudgetEntry& entry, BudgetOutcome* outcome) override {
    return Guard([&] {
      *outcome = BudgetOutcome{};
      if (!ItemExists(entry.item)) {
        error_ = MessageText("Rembiz.Host.BudgetNoItem", "", entry.item);
        return false;
      }
      if (!Active(entry.system_id)) {
        outcome->result = kNotControlled;
        return true;
      }
      // Dimensions the item does not have take no value in the key.
      std::array<std::string, 3> values;
      for (const BudgetDimension& dimension : Dimensions(entry.item)) {
        values[dimension.port - 1] = entry.port_values[dimension.port - 1];
      }
      std::string key =
          "iYear = " + std::to_string(entry.year) + " and cItemCode = " + SqlText(entry.item) +
          " and cPort1Value = " + SqlText(values[0]) + " and cPort2Value = " + SqlText(values[1]) +
          " and cPort3Value = " + SqlText(values[2]);
      std::string of_voucher = key + " and cVouchGUID = " + SqlText(entry.vouch_guid);

      if (entry.amount < 0) {
        // A release gives back at most what the voucher still holds on the key.
        double held = Sum(of_voucher);
        double release = std::min(-entry.amount, held);
        if (release < kCent) {
          outcome->result = kNotControlled;
          return true;
        }
        Record(entry, values, -release, 0);
        outcome->result = kWithinBudget;
        return true;
      }
      if (!entry.link_guid.empty()) {
        // Restores what this claim released of the loan, without a new budget check.
        double released = -Sum(of_voucher + " and cLinkGUID = " + SqlText(entry.link_guid));
        double restore = std::min(entry.amount, released);
        if (restore < kCent) {
          outcome->result = kNotControlled;
          return true;
        }
        Record(entry, values, restore, 0);
        outcome->result = kWithinBudget;
        return true;
      }

      db::Recordset budget = cn_->Execute("select mBudget, iControl from Host_Budget where " + key);
      if (budget.Eof()) {
        outcome->result = kNotControlled;
        return true;
      }
      double amount = budget.Value("mBudget").ToDouble();
      double available = amount - Sum(key);
      if (entry.amount <= available + kCent) {
        Record(entry, values, entry.amount, kWithinBudget);
        outcome->result = kWithinBudget;
        return true;
      }
      std::string label = Label(entry.item, values);
      if (budget.Value("iControl").ToInt() == 1) {
        outcome->result = kOverBudget;
        outcome->text = MessageText("Rembiz.Host.BudgetOver", "", label,
                                    db::CentsText(entry.amount), db::CentsText(available));
        return true;
      }
      Record(entry, values, entry.amount, kWarned);
      outcome->result = kWarned;
      outcome->text = MessageText("Rembiz.Host.BudgetWarning", "", label,
                                  db::CentsText(entry.amount), db::CentsText(available));
      return true;
    });
  }

  std::string LastError() const override { return error_; }

 private:
  // Runs one operation; a database failure becomes the service's error text.
  template <class F>
  bool Guard(F&& body) {
    error_.clear();
    if (!cn_) {
      error_ = MessageText("Rembiz.Host.BudgetNotBound");
      return false;
    }
    try {
      return body();
    } catch (const ComError& e) {
      error_ = e.Description();
      return false;
    }
  }

  bool Active(std::string_view system_id) {
    db::Recordset rs =
        cn_->Execute("select bActive from Host_BudgetOption where cSysId = " + SqlText(system_id));
    return !rs.Eof() && rs.Value("bActive").ToBool();
  }

  bool ItemExists(std::string_view item) {
    return !cn_->Execute("select cItemCode from BG_Item where cItemCode = " + SqlText(item)).Eof();
  }

  std::vector<BudgetDimension> Dimensions(std::string_view item) {
    std::vector<BudgetDimension> out;
    db::Recordset rs = cn_->Execute(
        "select iPort, cPortCode, cPortName from Host_BudgetDimension where cItemCode = " +
        SqlText(item) + " order by iPort");
    for (; !rs.Eof(); rs.MoveNext()) {
      int port = static_cast<int>(rs.Value("iPort").ToInt());
      if (port < 1 || port > 3) continue;
      out.push_back({port, rs.Text("cPortCode"), rs.Text("cPortName")});
    }
    return out;
  }

  double Sum(const std::string& where) {
    db::Recordset rs =
        cn_->Execute("select isnull(sum(mAmount), 0) as m from Host_BudgetUse where " + where);
    return rs.Eof() ? 0 : rs.Value("m").ToDouble();
  }

  std::string Label(std::string_view item, const std::array<std::string, 3>& values) {
    db::Recordset rs =
        cn_->Execute("select cItemName from BG_Item where cItemCode = " + SqlText(item));
    std::string label = rs.Eof() ? std::string(item) : rs.Text("cItemName");
    std::string joined;
    for (const std::string& value : values) {
      if (value.empty()) continue;
      if (!joined.empty()) joined += "/";
      joined += value;
    }
    return joined.empty() ? label : label + "(" + joined + ")";
  }

  void Record(const BudgetEntry& entry, const std::array<std::string, 3>& values, double amount,
              int result) {
    cn_->Execute(
        "insert into Host_BudgetUse (iYear, cItemCode, cPort1Value, cPort2Value, cPort3Value, "
        "mAmount, cVouchKind, cVouchType, cVouchGUID, cVouchID, dVouchDate, cUsed, iResult, "
        "cUser_Id, cLinkGUID) values (" +
        std::to_string(entry.year) + ", " + SqlText(entry.item) + ", " + SqlText(values[0]) + ", " +
        SqlText(values[1]) + ", " + SqlText(values[2]) + ", " + SqlMoney(amount) + ", " +
        SqlText(entry.kind) + ", " + SqlTextOrNull(entry.type_name) + ", " +
        SqlText(entry.vouch_guid) + ", " + SqlTextOrNull(entry.vouch_id) + ", " +
        SqlTextOrNull(entry.vouch_date) + ", " + SqlTextOrNull(entry.used) + ", " +
        std::to_string(result) + ", " + SqlTextOrNull(entry.user) + ", " +
        SqlTextOrNull(entry.link_guid) + ")");
  }

  db::Connection* cn_ = nullptr;
  std::string error_;
};

}  // namespace

std::unique_ptr<BudgetService> CreateBudgetService() {
  return std::make_unique<TableBudgetService>();
}

}  // namespace rembiz::host
