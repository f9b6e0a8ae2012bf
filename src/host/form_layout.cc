#include "host/form_layout.h"

#include <algorithm>

#include "db/text.h"
#include "host/messages.h"

namespace rembiz::host {
namespace {

class TableFormLayout : public FormLayout {
 public:
  db::Recordset GetTemplateData2(db::Connection& cn, std::string_view card_number,
                                 int64_t template_id) override {
    std::string caption =
        CurrentLanguageIsEnglish() ? "isnull(f.cCaptionEn,f.cCaption)" : "f.cCaption";
    return cn.Execute(
        "select t.vt_id,t.vt_name,t.vt_cardnumber,t.vt_templatemode,f.cSection,f.cFieldName," +
        caption +
        " as cCaption,f.iOrder,f.bVisible,f.bMustInput,f.bCanModify,f.iWidth,f.cDataType,"
        "f.cRefName from VoucherTemplates t inner join Host_TemplateField f on f.vt_id=t.vt_id "
        "where t.vt_cardnumber=" +
        db::SqlText(card_number) + " and t.vt_id=" + std::to_string(template_id) +
        " order by case when f.cSection=N'T' then 0 else 1 end,f.iOrder,f.cFieldName");
  }

  db::Recordset GetFixedData(db::Connection& cn, int64_t template_id) override {
    return cn.Execute("select iOrder,cName,cValue from Host_FixedData where vt_id=" +
                      std::to_string(template_id) + " order by iOrder");
  }

  std::string GetCompanyLogoImageData(db::Connection& cn) override {
    db::Recordset rs = cn.Execute("select cImageData from Host_CompanyLogo where id=1");
    return rs.Eof() ? "" : rs.Text("cImageData");
  }
};

}  // namespace

std::unique_ptr<FormLayout> CreateFormLayout() { return std::make_unique<TableFormLayout>(); }

}  // namespace rembiz::host
