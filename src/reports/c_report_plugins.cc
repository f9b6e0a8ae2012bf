// The report plug-ins are loaded by the report engine, not called through myHandle; they are
// registered so that they can be created by ProgID.
#include "frame/frame.h"
#include "frame/registry.h"

namespace rembiz::reports {
namespace {

// A plug-in has no myHandle of its own: a request sent to it answers an error document.
class ReportPlugin : public frame::BusinessObject {
 public:
  explicit ReportPlugin(std::string name) : name_(std::move(name)) {}
  void myHandle(host::Session*, xml::Document& oXml) override {
    oXml.LoadXml(frame::ProcedureErrorXml(name_, "myHandle", 438,
                                          "Object doesn't support this property or method"));
  }
  const std::string& ClassName() const override { return name_; }

 private:
  std::string name_;
};

const frame::ClassRegistrar kJktj("Rembiz.CReportJKTJ",
                                  [] { return std::make_unique<ReportPlugin>("CReportJKTJ"); });
const frame::ClassRegistrar kSztj("Rembiz.CReportSZTJ",
                                  [] { return std::make_unique<ReportPlugin>("CReportSZTJ"); });

}  // namespace
}  // namespace rembiz::reports
