#include "host/receipt_files.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "db/error.h"
#include "host/receipt_samples.h"

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig, which libvips' text and poppler's font substitution use, keeps its caches to the
// end of the process; that is no leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

namespace rembiz::host {
namespace {

using testing::Encoded;
using testing::HandWrittenPdf;
using testing::Picture;

uint32_t Crc32(std::string_view bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBigEndian(std::string& bytes, size_t at, uint32_t value) {
  for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>(value >> (24 - 8 * k));
}

// A real small PNG whose header says 100000 × 100000 pixels: a few hundred bytes that would
// decode to 30 GB.
std::string PngBomb() {
  std::string png = Encoded(Picture(8, 8), ".png");
  PutBigEndian(png, 16, 100000);  // IHDR: width, height, then its CRC over type and data
  PutBigEndian(png, 20, 100000);
  PutBigEndian(png, 29, Crc32(std::string_view(png).substr(12, 17)));
  return png;
}

void PutLittleEndian(std::string& bytes, uint32_t value, int size) {
  for (int k = 0; k < size; ++k) bytes += static_cast<char>(value >> (8 * k));
}

// A zip archive with one stored file "a.txt": its local header, its entry in the central
// directory and the directory's end record.
std::string Zip() {
  const std::string name = "a.txt", data = "x";
  std::string zip = "PK\x03\x04";
  auto fields = [&](std::string& out) {  // version to extract .. name length, both headers
    PutLittleEndian(out, 20, 2);
    out.append(2 + 2 + 2 + 2, '\0');  // flags, method, time, date
    PutLittleEndian(out, Crc32(data), 4);
    PutLittleEndian(out, data.size(), 4);
    PutLittleEndian(out, data.size(), 4);
    PutLittleEndian(out, name.size(), 2);
    out.append(2, '\0');
  };
  fields(zip);
  zip += name + data;
  const size_t directory = zip.size();
  zip += "PK\x01\x02";
  PutLittleEndian(zip, 20, 2);
  fields(zip);
  zip.append(2 + 2 + 2 + 4 + 4, '\0');  // comment, disk, attributes; the file at offset 0
  zip += name;
  const size_t directory_size = zip.size() - directory;
  zip += "PK\x05\x06";
  zip.append(2 + 2, '\0');
  PutLittleEndian(zip, 1, 2);
  PutLittleEndian(zip, 1, 2);
  PutLittleEndian(zip, directory_size, 4);
  PutLittleEndian(zip, directory, 4);
  zip.append(2, '\0');
  return zip;
}

ReceiptCheck Check(const std::string& bytes, const ReceiptLimits& limits = {}) {
  return CheckReceiptFile(bytes, limits);
}

TEST(ReceiptFilesTest, TheTypeComesFromTheBytes) {
  // What a browser would send as "scan.jpg" is a PDF all the same: the name is not even asked.
  ReceiptCheck pdf = Check(HandWrittenPdf(2, {"Total 123.45"}));
  EXPECT_TRUE(pdf.accepted) << pdf.refusal;
  EXPECT_EQ(pdf.mime, "application/pdf");
  EXPECT_EQ(pdf.pages, 2);
  EXPECT_EQ(pdf.width, 595);
  EXPECT_EQ(pdf.height, 842);

  struct Case {
    const char* suffix;
    const char* mime;
  };
  for (const Case& c :
       {Case{".jpg", "image/jpeg"}, Case{".png", "image/png"}, Case{".webp", "image/webp"}}) {
    ReceiptCheck image = Check(Encoded(Picture(640, 480), c.suffix));
    EXPECT_TRUE(image.accepted) << c.suffix << " " << image.refusal;
    EXPECT_EQ(image.mime, c.mime);
    EXPECT_EQ(image.width, 640);
    EXPECT_EQ(image.height, 480);
  }
}

TEST(ReceiptFilesTest, BadFilesAreRefusedWithTheirReason) {
  const std::string jpeg = Encoded(Picture(640, 480), ".jpg");
  const std::string png = Encoded(Picture(640, 480), ".png");
  ReceiptLimits small;
  small.max_bytes = 1000;
  ReceiptLimits two_pages;
  two_pages.max_pages = 2;
  struct Case {
    const char* what;
    std::string bytes;
    ReceiptLimits limits;
    const char* refusal;
  };
  const std::vector<Case> cases = {
      {"empty", "", {}, "Rembiz.Receipt.Empty"},
      {"over the byte limit", png, small, "Rembiz.Receipt.TooLarge"},
      {"text named .jpg",
       "Total 123.45, paid in cash. Thank you!\n",
       {},
       "Rembiz.Receipt.NotAccepted"},
      {"zip archive", Zip(), {}, "Rembiz.Receipt.NotAccepted"},
      {"truncated JPEG", jpeg.substr(0, jpeg.size() / 2), {}, "Rembiz.Receipt.Unreadable"},
      {"truncated PNG", png.substr(0, png.size() / 2), {}, "Rembiz.Receipt.Unreadable"},
      {"100000 x 100000 PNG", PngBomb(), {}, "Rembiz.Receipt.TooManyPixels"},
      {"PDF poppler cannot open",
       "%PDF-1.4\n1 0 obj << /Type /Catalog >>\n%%EOF\n",
       {},
       "Rembiz.Receipt.Unreadable"},
      {"PDF of three pages", HandWrittenPdf(3, {"x"}), two_pages, "Rembiz.Receipt.TooManyPages"},
  };
  for (const Case& c : cases) {
    ReceiptCheck check = CheckReceiptFile(c.bytes, c.limits);
    EXPECT_FALSE(check.accepted) << c.what;
    EXPECT_EQ(check.refusal, c.refusal) << c.what << " (" << check.mime << ")";
  }
  EXPECT_EQ(Check(Zip()).mime, "application/zip");
}

// The image's type and size as CheckReceiptFile finds them.
ReceiptCheck Seen(const ReceiptImage& image) {
  ReceiptCheck check = CheckReceiptFile(image.bytes);
  EXPECT_TRUE(check.accepted) << check.refusal;
  EXPECT_EQ(check.mime, image.mime);
  return check;
}

TEST(ReceiptFilesTest, ThumbnailsFitTheirSizeAndDecode) {
  ReceiptCheck photo =
      Seen(MakeReceiptThumbnail(Encoded(Picture(1000, 600), ".jpg"), "image/jpeg"));
  EXPECT_EQ(photo.mime, "image/jpeg");
  EXPECT_EQ(photo.width, 320);
  EXPECT_EQ(photo.height, 192);

  ReceiptCheck screenshot =
      Seen(MakeReceiptThumbnail(Encoded(Picture(300, 900), ".png"), "image/png", 200));
  EXPECT_EQ(screenshot.mime, "image/png");
  EXPECT_EQ(screenshot.height, 200);
  EXPECT_LE(screenshot.width, 200);

  // A small image is not enlarged.
  EXPECT_EQ(Seen(MakeReceiptThumbnail(Encoded(Picture(100, 50), ".webp"), "image/webp")).width,
            100);

  const std::string pdf = HandWrittenPdf(1, {"Total 123.45"});
  ReceiptCheck page = Seen(MakeReceiptThumbnail(pdf, "application/pdf"));
  EXPECT_EQ(page.mime, "image/png");
  EXPECT_EQ(page.height, 320);
  EXPECT_EQ(page.width, 226);  // A4's shape
  ReceiptCheck view = Seen(RenderPdfFirstPage(pdf));
  EXPECT_EQ(view.width, 1400);
  EXPECT_EQ(view.height, 1981);
}

TEST(ReceiptFilesTest, ThumbnailsOfBadFilesFailWithAMessageKey) {
  auto key_of = [](auto make) {
    try {
      make();
    } catch (const ComError& error) {
      return error.Key();
    }
    return std::string("no error");
  };
  EXPECT_EQ(key_of([] { MakeReceiptThumbnail(PngBomb(), "image/png"); }),
            "Rembiz.Receipt.TooManyPixels");
  const std::string jpeg = Encoded(Picture(1000, 600), ".jpg");
  EXPECT_EQ(key_of([&] { MakeReceiptThumbnail(jpeg.substr(0, jpeg.size() / 2), "image/jpeg"); }),
            "Rembiz.Receipt.Unreadable");
  // The bytes are not what the type says.
  EXPECT_EQ(key_of([] { MakeReceiptThumbnail(Encoded(Picture(64, 64), ".png"), "image/jpeg"); }),
            "Rembiz.Receipt.Unreadable");
  EXPECT_EQ(key_of([] { RenderPdfFirstPage("%PDF-1.4 nothing else"); }),
            "Rembiz.Receipt.Unreadable");
  EXPECT_EQ(key_of([] { MakeReceiptThumbnail("PK", "application/zip"); }),
            "Rembiz.Receipt.NotAccepted");
}

}  // namespace
}  // namespace rembiz::host
