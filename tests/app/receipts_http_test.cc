// Receipts over HTTP: a file uploaded as multipart/form-data onto a claim row, typed from its
// bytes (a PDF named .jpg is a PDF), listed, downloaded as it went in, shown small and, for a PDF,
// as its first page; refused files keep nothing; read in the background after the commit.
#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "app/http_fixture.h"
#include "host/messages.h"

#if defined(__SANITIZE_ADDRESS__)
// fontconfig keeps its caches for the life of the process (a PDF page is drawn through it):
// no leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

namespace rembiz::app {
namespace {

std::string FromHex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return out;
}

// An 8×8 red PNG, and a one-page PDF with a blue rectangle.
const std::string kPng = FromHex(
    "89504e470d0a1a0a0000000d49484452000000080000000808020000004b6d29dc0000001249444154789c63f8"
    "cfc0801561171db4120028ff3fc16eecdf610000000049454e44ae426082");
const std::string kPdf =
    "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n2 0 obj\n<< /Type /Pages "
    "/Kids [3 0 R] /Count 1 >>\nendobj\n3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 "
    "200 100] /Contents 4 0 R >>\nendobj\n4 0 obj\n<< /Length 26 >>\nstream\n0 0 1 rg 20 20 100 "
    "50 re f\nendstream\nendobj\nxref\n0 5\n0000000000 65535 f \n0000000009 00000 n \n0000000058 "
    "00000 n \n0000000115 00000 n \n0000000202 00000 n \ntrailer\n<< /Size 5 /Root 1 0 R "
    ">>\nstartxref\n278\n%%EOF\n";

class ReceiptsHttpTest : public HttpTest {
 protected:
  // A draft claim of the demo administrator with two rows; its GUID.
  std::string Claim() {
    xml::Document doc = Call(
        "CExpense",
        "<req><func name='savevouch'><in><xml><head><z:row strTypeCode='201' strVouchID='BX0001' "
        "dtLoanDate='" +
            Session().FiscalYear() +
            "-03-05' strDepartID='0201' strLoanID='0002' strBill='人民币' fltRate='1' "
            "dblMoney='1' dblOldMoney='1' strUsed='trip' strPersonID='Demo Admin'/></head><body>"
            "<row strIOItem='203' dblMoney='100'/><row strIOItem='203' dblMoney='20'/>"
            "</body></xml></in></func></req>");
    return Scalar("select GUID from EC_ExpenVouch where strVouchID = 'BX0001'");
  }
  httplib::Result Upload(const std::string& token, const std::string& voucher, int row,
                         const std::string& name, const std::string& bytes) {
    httplib::Headers headers{{"Authorization", "Bearer " + token}, {"Accept-Language", "en-US"}};
    return Client().Post("/api/receipts/" + voucher + "?row=" + std::to_string(row), headers,
                         httplib::MultipartFormDataItems{{"file", bytes, name, "image/jpeg"}});
  }
  httplib::Result Get(const std::string& token, const std::string& path) {
    return Client().Get(path, httplib::Headers{{"Authorization", "Bearer " + token}});
  }
  static std::string Guid(const std::string& xml) {
    std::smatch m;
    return std::regex_search(xml, m, std::regex("<receipt guid=\"([^\"]+)\"")) ? m[1].str() : "";
  }
};

TEST_F(ReceiptsHttpTest, UploadListDownloadAndViewByTheBytesNotTheName) {
  Start();
  const std::string claim = Claim();
  const std::string token = Login("demo", "demo");
  ASSERT_FALSE(token.empty());

  httplib::Result r = Upload(token, claim, 1, "photo.png", kPng);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_NE(r->body.find("mime=\"image/png\""), std::string::npos) << r->body;
  const std::string png = Guid(r->body);
  r = Upload(token, claim, 2, "scan.jpg", kPdf);
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_NE(r->body.find("mime=\"application/pdf\""), std::string::npos) << r->body;
  const std::string pdf = Guid(r->body);

  // Refused: not a receipt at all, an empty file, a row the claim does not have; nothing kept.
  const std::string before = Scalar("select count(*) from EC_Receipt");
  for (const auto& [row, bytes] : {std::pair{1, std::string("just some text\n")},
                                   std::pair{1, std::string()}, std::pair{3, kPng}}) {
    r = Upload(token, claim, row, "x.png", bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400) << r->body;
    EXPECT_NE(r->body.find("<text>"), std::string::npos) << r->body;
  }
  EXPECT_EQ(Scalar("select count(*) from EC_Receipt"), before);

  r = Get(token, "/api/receipts/" + claim);
  ASSERT_EQ(r->status, 200) << r->body;
  xml::Document listed;
  ASSERT_TRUE(listed.LoadXml(r->body)) << r->body;
  EXPECT_EQ(listed.SelectNodes("/receipts/receipt").size(), 2u);
  EXPECT_NE(r->body.find("guid=\"" + png + "\""), std::string::npos) << r->body;
  EXPECT_NE(r->body.find("guid=\"" + pdf + "\""), std::string::npos) << r->body;

  r = Get(token, "/api/receipt/" + png);
  ASSERT_TRUE(r) << httplib::to_string(r.error());
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_TRUE(r->body == kPng);
  EXPECT_EQ(r->get_header_value("Content-Type"), "image/png");
  EXPECT_NE(r->get_header_value("Content-Security-Policy").find("sandbox"), std::string::npos);
  r = Get(token, "/api/receipt/" + png + "?view=thumb");
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_TRUE(r->body.starts_with("\x89PNG") || r->body.starts_with("\xff\xd8")) << r->body;
  r = Get(token, "/api/receipt/" + pdf + "?view=page");
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_EQ(r->get_header_value("Content-Type"), "image/png");
  EXPECT_TRUE(r->body.starts_with("\x89PNG"));
  r = Get(token, "/api/receipt/" + pdf);
  EXPECT_TRUE(r->body == kPdf);

  // A file of several pieces goes out whole and in order (its bytes swapped in directly, as no
  // small test image is that large).
  std::string large(700'000, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 7919) >> 3);
  Cn().BeginTrans();
  Cn().WriteBytes("EC_ReceiptFile", "bContent", "GUID", pdf, large);
  Cn().CommitTrans();
  r = Get(token, "/api/receipt/" + pdf + "?download=1");
  ASSERT_EQ(r->status, 200);
  EXPECT_EQ(r->body.size(), large.size());
  EXPECT_TRUE(r->body == large);
  EXPECT_EQ(r->get_header_value("Content-Disposition").rfind("attachment", 0), 0u);

  // Read after the commit, in the background: the state moves on from "waiting".
  std::string state;
  for (int i = 0; i < 300 && (state.empty() || state == "0"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    db::ClearConnectionPool();
    state = Scalar("select iReadState from EC_Receipt where GUID = '" + png + "'");
  }
  EXPECT_NE(state, "0");

  // Another operator's session: the clerk sees, but only the maker removes.
  const std::string clerk = Login("clerk", "clerk");
  EXPECT_EQ(Get(clerk, "/api/receipt/" + png)->status, 200);
  EXPECT_EQ(Upload(clerk, claim, 1, "x.png", kPng)->status, 400);
  r = Post("/api/CReceipt", "<req><func name='remove'><in GUID='" + png + "'/></func></req>",
           clerk);
  EXPECT_NE(r->body.find("<error>"), std::string::npos) << r->body;
  r = Post("/api/CReceipt", "<req><func name='remove'><in GUID='" + png + "'/></func></req>",
           token);
  EXPECT_EQ(r->body.find("<error>"), std::string::npos) << r->body;
  EXPECT_EQ(Get(token, "/api/receipt/" + png)->status, 400);
  // Without a session: nothing.
  EXPECT_EQ(Client().Get("/api/receipt/" + pdf)->status, 401);
}

}  // namespace
}  // namespace rembiz::app
