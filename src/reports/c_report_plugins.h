// The report plug-ins of the host's report engine: CReportJKTJ (loan statistics, one row per
// loan payment row) and CReportSZTJ (claim statistics, one row per claim row). The engine sets
// their properties and calls them; they fill a work table in tempdb with the detail rows the
// user's filter and the operator's rights select. They have no myHandle of their own.
#pragma once

#include <string>

#include "frame/business_object.h"
#include "host/report_engine.h"

namespace rembiz::reports {

class ReportPluginBase : public frame::BusinessObject, public host::ReportPlugin {
 public:
  std::string TempTablename() override;
  std::string strSubTitle() override { return ""; }
  bool MoveDataDetail() override;
  std::string DetailQuery() override;
  bool OnValidateFilter() override { return true; }

  // A request sent to a plug-in answers an error document: it is not called that way.
  void myHandle(host::Session* ologin, xml::Document& oXml) override;

 protected:
  // The detail rows: the select list and the FROM clause with their joins, the head of the
  // voucher named `ec_vch` and its data-permission source given.
  virtual std::string DetailColumns() const = 0;
  virtual std::string DetailFrom(const std::string& heads, db::Connection& cn) const = 0;
  // The voucher table the data permissions restrict.
  virtual const char* HeadTable() const = 0;

 private:
  std::string table_;  // the work table, without "tempdb.."
};

class CReportJKTJ : public ReportPluginBase {
 public:
  const std::string& ClassName() const override;

 protected:
  std::string DetailColumns() const override;
  std::string DetailFrom(const std::string& heads, db::Connection& cn) const override;
  const char* HeadTable() const override { return "ec_loanvouch"; }
};

class CReportSZTJ : public ReportPluginBase {
 public:
  const std::string& ClassName() const override;

 protected:
  std::string DetailColumns() const override;
  std::string DetailFrom(const std::string& heads, db::Connection& cn) const override;
  const char* HeadTable() const override { return "ec_expenvouch"; }
};

}  // namespace rembiz::reports
