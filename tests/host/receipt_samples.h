// Receipt files the receipt tests make themselves: images drawn with libvips and PDFs written by
// hand, so that no sample file needs to be kept.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>
#include <vips/vips8>

namespace rembiz::testing {

// The font the tests draw text with (install-deps installs it; it has Latin letters too).
inline const char* kReceiptFontFile = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

inline bool HaveReceiptFont() { return std::filesystem::exists(kReceiptFontFile); }

inline std::string Encoded(const vips::VImage& image, const char* suffix) {
  void* data = nullptr;
  size_t size = 0;
  image.write_to_buffer(suffix, &data, &size);
  std::string bytes(static_cast<const char*>(data), size);
  g_free(data);
  return bytes;
}

// Black text on a white page with a margin, 300 dpi; lines separated by '\n'.
inline vips::VImage TextPage(const std::string& text) {
  if (vips_init("rembiz-tests") != 0) throw std::runtime_error("libvips did not start");
  vips::VOption* options = vips::VImage::option()->set("dpi", 300);
  if (HaveReceiptFont()) {
    options->set("fontfile", kReceiptFontFile)->set("font", "WenQuanYi Micro Hei 12");
  }
  vips::VImage ink = vips::VImage::text(text.c_str(), options);
  vips::VImage page = (255 - ink).cast(VIPS_FORMAT_UCHAR);
  return page.embed(60, 60, ink.width() + 120, ink.height() + 120,
                    vips::VImage::option()->set("extend", VIPS_EXTEND_WHITE));
}

// A colour picture of `width` × `height` pixels (a gradient, so that encoders have work).
inline vips::VImage Picture(int width, int height) {
  if (vips_init("rembiz-tests") != 0) throw std::runtime_error("libvips did not start");
  vips::VImage x = vips::VImage::xyz(width, height)[0];
  vips::VImage red = (x * 255.0 / width).cast(VIPS_FORMAT_UCHAR);
  vips::VImage rgb = vips::VImage::bandjoin({red, 255 - red, red / 2});
  return rgb.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

// A PDF of `pages` pages of `width` × `height` points, each with a grey box and the lines of
// text in Helvetica at its top left.
inline std::string HandWrittenPdf(int pages, const std::vector<std::string>& lines,
                                  double width = 595, double height = 842) {
  std::string content = "0.8 g 40 40 120 60 re f 0 g BT /F1 20 Tf 50 " +
                        std::to_string(static_cast<int>(height) - 80) + " Td 30 TL";
  for (const std::string& line : lines) content += " (" + line + ") Tj T*";
  content += " ET";
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "",
                                      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
  std::string kids;
  char box[64];
  std::snprintf(box, sizeof box, "[0 0 %g %g]", width, height);
  for (int p = 0; p < pages; ++p) {
    const size_t page = objects.size() + 1;
    kids += std::to_string(page) + " 0 R ";
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox " + std::string(box) +
                      " /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                      std::to_string(page + 1) + " 0 R >>");
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                      "\nendstream");
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace rembiz::testing
