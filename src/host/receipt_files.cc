#include "host/receipt_files.h"

#include <magic.h>
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>
#include <vips/vips8>

#include "host/errors.h"

namespace rembiz::host {
namespace {

using vips::VImage;

enum class Kind { kJpeg, kPng, kWebp, kHeif, kPdf, kNone };

Kind KindOf(std::string_view mime) {
  if (mime == "image/jpeg") return Kind::kJpeg;
  if (mime == "image/png") return Kind::kPng;
  if (mime == "image/webp") return Kind::kWebp;
  if (mime == "image/heic" || mime == "image/heif") return Kind::kHeif;
  if (mime == "application/pdf") return Kind::kPdf;
  return Kind::kNone;
}

[[noreturn]] void Refuse(std::string_view key) { Raise(kErrBusiness, key); }

// A refusal found while reading a file: an answer of CheckReceiptFile, an error of the others.
struct Refused {
  std::string key;
};

// ---------------------------------------------------------------------------------------------
// libvips, set up once per process. The operation cache is off: it would keep images that point
// into a caller's buffer after the call and could answer a later call with the same address and
// length from them. Every receipt is opened with the loader of the type libmagic found.

void StartVips() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (vips_init("rembiz") != 0) {
      Raise(kErrBusiness, "Rembiz.Receipt.Unavailable", "libvips");
    }
    vips_cache_set_max(0);
    vips_block_untrusted_set(TRUE);
    // The one process-wide user of libvips reads no other formats: every loader but the buffer
    // loaders of the accepted types is blocked, so that no file reaches another decoder.
    vips_operation_block_set("VipsForeignLoad", TRUE);
    for (const char* loader : {"VipsForeignLoadJpegBuffer", "VipsForeignLoadPngBuffer",
                               "VipsForeignLoadWebpBuffer", "VipsForeignLoadHeifBuffer"}) {
      vips_operation_block_set(loader, FALSE);
    }
    // A damaged upload is refused with a message key; libvips' own warnings about it would only
    // repeat that on standard error.
    g_log_set_handler(
        "VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
        [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
  });
}

// The caller's bytes as a libvips blob, without a copy: it lives only within one call.
class Blob {
 public:
  explicit Blob(std::string_view bytes)
      : blob_(vips_blob_new(nullptr, bytes.data(), bytes.size())) {}
  ~Blob() { vips_area_unref(VIPS_AREA(blob_)); }
  Blob(const Blob&) = delete;
  Blob& operator=(const Blob&) = delete;
  VipsBlob* get() const { return blob_; }

 private:
  VipsBlob* blob_;
};

// Opens an image with its own type's loader; pixels are decoded only when something reads them.
// Damage or truncation is an error, not a grey band.
VImage OpenImage(const Blob& blob, Kind kind, bool sequential) {
  auto options = [sequential] {
    vips::VOption* set = VImage::option()->set("fail_on", VIPS_FAIL_ON_ERROR);
    if (sequential) set->set("access", VIPS_ACCESS_SEQUENTIAL);
    return set;
  };
  switch (kind) {
    case Kind::kJpeg:
      return VImage::jpegload_buffer(blob.get(), options());
    case Kind::kPng:
      return VImage::pngload_buffer(blob.get(), options());
    case Kind::kWebp:
      return VImage::webpload_buffer(blob.get(), options());
    case Kind::kHeif:
      return VImage::heifload_buffer(blob.get(), options());
    case Kind::kPdf:
    case Kind::kNone:
      break;
  }
  throw Refused{"Rembiz.Receipt.NotAccepted"};
}

// The header only: an image that would decode to more pixels than the limit is refused before
// any pixel is read (a few hundred bytes can declare a picture of gigabytes).
VImage OpenWithinLimit(const Blob& blob, Kind kind, int64_t max_pixels, bool sequential) {
  VImage image = OpenImage(blob, kind, sequential);
  if (static_cast<int64_t>(image.width()) * image.height() > max_pixels) {
    throw Refused{"Rembiz.Receipt.TooManyPixels"};
  }
  return image;
}

// A small copy of the image for the screen or for reading: libvips shrinks while it decodes
// where the format allows it (JPEG, HEIC), turns photos upright by their orientation tag and
// brings any colour space to 8-bit sRGB.
VImage Shrunk(const Blob& blob, int long_side) {
  VImage image = VImage::thumbnail_buffer(blob.get(), long_side,
                                          VImage::option()
                                              ->set("height", long_side)
                                              ->set("size", VIPS_SIZE_DOWN)
                                              // the thumbnail's own fail_on does not reach
                                              // the loader; its option string does
                                              ->set("option_string", "fail_on=error"));
  if (image.interpretation() != VIPS_INTERPRETATION_sRGB) {
    image = image.colourspace(VIPS_INTERPRETATION_sRGB);
  }
  return image;
}

VImage OnWhite(const VImage& image) {
  if (!image.has_alpha()) return image;
  return image.flatten(VImage::option()->set("background", std::vector<double>{255, 255, 255}));
}

std::string TakeBlob(VipsBlob* blob) {
  size_t size = 0;
  const void* data = vips_blob_get(blob, &size);
  std::string bytes(static_cast<const char*>(data), size);
  vips_area_unref(VIPS_AREA(blob));
  return bytes;
}

ReceiptImage Png(const VImage& image) {
  return {TakeBlob(image.pngsave_buffer(VImage::option()->set("strip", true))), "image/png"};
}

ReceiptImage Jpeg(const VImage& image) {
  return {TakeBlob(OnWhite(image).jpegsave_buffer(
              VImage::option()->set("Q", 82)->set("strip", true)->set("optimize_coding", true))),
          "image/jpeg"};
}

// ---------------------------------------------------------------------------------------------
// PDFs through poppler. Documents are opened and rendered one at a time: poppler keeps
// process-wide state (fonts, its settings) that it does not promise to guard for parallel use.

std::mutex& PdfLock() {
  static std::mutex lock;
  return lock;
}

// Pixels of a rendered page are held within these whatever the page's shape says.
constexpr int64_t kMaxRenderPixels = 25'000'000;
constexpr double kMaxRenderSide = 12000;

struct OpenPdf {
  std::unique_ptr<poppler::document> document;
  std::unique_ptr<poppler::page> first;
  double width_pt = 0, height_pt = 0;  // the first page as shown, after its rotation
};

// Called with PdfLock held.
OpenPdf OpenPdfDocument(std::string_view bytes) {
  static std::once_flag quiet;
  std::call_once(quiet, [] {
    // Damaged files are refused with a message key; poppler's notes about them go nowhere.
    poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
  });
  if (bytes.size() > static_cast<size_t>(INT_MAX)) throw Refused{"Rembiz.Receipt.TooLarge"};
  OpenPdf pdf;
  pdf.document.reset(
      poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
  if (!pdf.document) throw Refused{"Rembiz.Receipt.Unreadable"};
  if (pdf.document->is_locked()) throw Refused{"Rembiz.Receipt.Locked"};
  if (pdf.document->pages() < 1) throw Refused{"Rembiz.Receipt.Unreadable"};
  pdf.first.reset(pdf.document->create_page(0));
  if (!pdf.first) throw Refused{"Rembiz.Receipt.Unreadable"};
  poppler::rectf box = pdf.first->page_rect();
  pdf.width_pt = box.width();
  pdf.height_pt = box.height();
  if (pdf.first->orientation() == poppler::page::landscape ||
      pdf.first->orientation() == poppler::page::seascape) {
    std::swap(pdf.width_pt, pdf.height_pt);
  }
  if (!(pdf.width_pt >= 1 && pdf.height_pt >= 1 && std::isfinite(pdf.width_pt) &&
        std::isfinite(pdf.height_pt))) {
    throw Refused{"Rembiz.Receipt.Unreadable"};
  }
  return pdf;
}

// The first page rendered to fit `width` × `height` pixels, at no more than `max_dpi`, and
// lowered further as far as the pixel bounds need; sRGB or grey.
VImage RenderFirstPage(std::string_view bytes, double width, double height, double max_dpi,
                       bool grey) {
  std::lock_guard lock(PdfLock());
  OpenPdf pdf = OpenPdfDocument(bytes);
  double dpi = std::min({max_dpi, width / pdf.width_pt * 72, height / pdf.height_pt * 72});
  const double width_px = pdf.width_pt * dpi / 72, height_px = pdf.height_pt * dpi / 72;
  dpi *= std::min({1.0, kMaxRenderSide / width_px, kMaxRenderSide / height_px,
                   std::sqrt(kMaxRenderPixels / (width_px * height_px))});
  poppler::page_renderer renderer;
  renderer.set_render_hints(poppler::page_renderer::antialiasing |
                            poppler::page_renderer::text_antialiasing |
                            poppler::page_renderer::text_hinting);
  renderer.set_image_format(grey ? poppler::image::format_gray8 : poppler::image::format_argb32);
  poppler::image page = renderer.render_page(pdf.first.get(), dpi, dpi);
  if (!page.is_valid() || page.width() < 1 || page.height() < 1) {
    throw Refused{"Rembiz.Receipt.Unreadable"};
  }
  const int bands = grey ? 1 : 4;
  const size_t row = static_cast<size_t>(page.width()) * bands;
  std::string pixels(row * page.height(), '\0');
  for (int y = 0; y < page.height(); ++y) {
    std::memcpy(pixels.data() + row * y,
                page.const_data() + static_cast<size_t>(y) * page.bytes_per_row(), row);
  }
  VipsImage* copy = vips_image_new_from_memory_copy(pixels.data(), pixels.size(), page.width(),
                                                    page.height(), bands, VIPS_FORMAT_UCHAR);
  if (!copy) throw vips::VError();
  VImage image(copy);
  if (grey) return image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
  // ARGB32 is one native 32-bit word per pixel: B, G, R, A in memory on a little-endian machine.
  // Poppler paints the page on white, so alpha carries nothing.
  const bool little = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
  VImage rgb = little ? VImage::bandjoin({image[2], image[1], image[0]})
                      : VImage::bandjoin({image[1], image[2], image[3]});
  return rgb.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

// Runs `work`, turning what went wrong into a refusal with a message key.
template <typename Work>
auto Refusing(Work work) {
  StartVips();
  try {
    return work();
  } catch (const Refused& refused) {
    Refuse(refused.key);
  } catch (const vips::VError&) {
    Refuse("Rembiz.Receipt.Unreadable");
  }
}

// ---------------------------------------------------------------------------------------------
// libmagic. A cookie is not safe for two threads, so each thread keeps its own.

class MagicCookie {
 public:
  MagicCookie()
      : cookie_(magic_open(MAGIC_MIME_TYPE | MAGIC_NO_CHECK_COMPRESS | MAGIC_NO_CHECK_TAR |
                           MAGIC_NO_CHECK_ELF | MAGIC_NO_CHECK_CDF)) {
    if (cookie_ && magic_load(cookie_, nullptr) != 0) {
      magic_close(cookie_);
      cookie_ = nullptr;
    }
  }
  ~MagicCookie() {
    if (cookie_) magic_close(cookie_);
  }
  MagicCookie(const MagicCookie&) = delete;
  MagicCookie& operator=(const MagicCookie&) = delete;
  magic_t get() const { return cookie_; }

 private:
  magic_t cookie_;
};

std::string SniffMime(std::string_view bytes) {
  thread_local MagicCookie cookie;
  if (!cookie.get()) Raise(kErrBusiness, "Rembiz.Receipt.Unavailable", "libmagic");
  // Every type accepted is known by its first bytes; the rest of a large file changes nothing.
  constexpr size_t kSniffBytes = 256 * 1024;
  const char* mime = magic_buffer(cookie.get(), bytes.data(), std::min(bytes.size(), kSniffBytes));
  return mime ? mime : "application/octet-stream";
}

}  // namespace

ReceiptCheck CheckReceiptFile(std::string_view bytes, const ReceiptLimits& limits) {
  ReceiptCheck check;
  if (bytes.empty()) {
    check.refusal = "Rembiz.Receipt.Empty";
    return check;
  }
  if (bytes.size() > limits.max_bytes) {
    check.refusal = "Rembiz.Receipt.TooLarge";
    return check;
  }
  check.mime = SniffMime(bytes);
  const Kind kind = KindOf(check.mime);
  if (kind == Kind::kNone) {
    check.refusal = "Rembiz.Receipt.NotAccepted";
    return check;
  }
  StartVips();
  try {
    if (kind == Kind::kPdf) {
      std::lock_guard lock(PdfLock());
      OpenPdf pdf = OpenPdfDocument(bytes);
      check.pages = pdf.document->pages();
      check.width = static_cast<int>(std::lround(pdf.width_pt));
      check.height = static_cast<int>(std::lround(pdf.height_pt));
      if (check.pages > limits.max_pages) throw Refused{"Rembiz.Receipt.TooManyPages"};
    } else {
      Blob blob(bytes);
      VImage image = OpenWithinLimit(blob, kind, limits.max_pixels, true);
      check.width = image.width();
      check.height = image.height();
      check.pages = 1;
      // Every pixel decoded once, in strips: a truncated or damaged image fails here.
      (void)image.avg();
    }
    check.accepted = true;
  } catch (const Refused& refused) {
    check.refusal = refused.key;
  } catch (const vips::VError&) {
    check.refusal = "Rembiz.Receipt.Unreadable";
  }
  return check;
}

ReceiptImage MakeReceiptThumbnail(std::string_view bytes, std::string_view mime, int size) {
  const Kind kind = KindOf(mime);
  if (kind == Kind::kNone) Refuse("Rembiz.Receipt.NotAccepted");
  size = std::clamp(size, 16, 4096);
  return Refusing([&] {
    if (kind == Kind::kPdf) {
      // No larger than the page at 150 dpi, which a small page would otherwise exceed.
      return Png(RenderFirstPage(bytes, size, size, 150, false));
    }
    Blob blob(bytes);
    OpenWithinLimit(blob, kind, ReceiptLimits{}.max_pixels, false);
    VImage small = Shrunk(blob, size);
    return kind == Kind::kPng ? Png(small) : Jpeg(small);
  });
}

ReceiptImage RenderPdfFirstPage(std::string_view bytes, int width) {
  width = std::clamp(width, 16, 6000);
  return Refusing([&] { return Png(RenderFirstPage(bytes, width, kMaxRenderSide, 600, false)); });
}

GreyPage ReceiptGreyPage(std::string_view bytes, std::string_view mime, int min_long_side,
                         int max_long_side) {
  const Kind kind = KindOf(mime);
  if (kind == Kind::kNone) Refuse("Rembiz.Receipt.NotAccepted");
  max_long_side = std::clamp(max_long_side, 16, 10000);
  min_long_side = std::clamp(min_long_side, 1, max_long_side);
  return Refusing([&] {
    VImage grey;
    if (kind == Kind::kPdf) {
      grey = RenderFirstPage(bytes, max_long_side, max_long_side, 300, true);
    } else {
      Blob blob(bytes);
      OpenWithinLimit(blob, kind, ReceiptLimits{}.max_pixels, false);
      grey = OnWhite(Shrunk(blob, max_long_side)).colourspace(VIPS_INTERPRETATION_B_W);
      if (grey.bands() > 1) grey = grey[0];
      const int long_side = std::max(grey.width(), grey.height());
      if (long_side < min_long_side) {
        // Text recognition wants letters some twenty pixels high; small photos are enlarged.
        double scale = std::min(3.0, static_cast<double>(min_long_side) / long_side);
        grey = grey.resize(scale);
      }
      grey = grey.cast(VIPS_FORMAT_UCHAR);
    }
    GreyPage page;
    page.width = grey.width();
    page.height = grey.height();
    size_t size = 0;
    void* pixels = grey.write_to_memory(&size);
    page.pixels.assign(static_cast<const char*>(pixels), size);
    g_free(pixels);
    return page;
  });
}

}  // namespace rembiz::host
