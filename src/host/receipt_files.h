// Receipt files as uploaded: what a file is, judged from its bytes alone (libmagic for the type,
// libvips for images, poppler for PDFs), and the images shown in lists and viewers. Nothing here
// touches a database; every function is safe to call from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rembiz::host {

// What an uploaded receipt is, decided from its bytes (the file's name is no input).
struct ReceiptCheck {
  bool accepted = false;
  // "image/jpeg", "image/png", "image/webp", "image/heic" (or "image/heif"), "application/pdf",
  // or what libmagic said of a refused file; empty for an empty or too large file.
  std::string mime;
  // When refused, a message key without parameters: Rembiz.Receipt.Empty, .TooLarge,
  // .NotAccepted, .Unreadable (damaged, truncated, or not what its type says), .TooManyPixels
  // (an image that would decode to more than the limit), .TooManyPages, .Locked (a PDF that
  // needs a password).
  std::string refusal;
  // An image's size in pixels; a PDF's first page in points (1/72 inch) and its page count.
  int width = 0, height = 0, pages = 0;
};

struct ReceiptLimits {
  size_t max_bytes = 10 * 1024 * 1024;
  int64_t max_pixels = 50'000'000;
  int max_pages = 50;
};

// Sniffs the type, reads an image's header and refuses one above the pixel limit before any
// pixel is decoded, then decodes it once (streaming, so memory stays small) so that a truncated
// or damaged image is refused now and not when someone looks at it. A PDF is opened and its
// pages counted. Throws ComError (Rembiz.Receipt.Unavailable) only when the type database
// itself is missing.
ReceiptCheck CheckReceiptFile(std::string_view bytes, const ReceiptLimits& limits = {});

// An image made from a receipt, with its type ("image/png" or "image/jpeg").
struct ReceiptImage {
  std::string bytes;
  std::string mime;
};

// A small image of the receipt for lists and the approver's viewer, at most `size` pixels on its
// long side (never enlarged): photos (JPEG, WebP, HEIC) become JPEG, PNG images and a PDF's
// first page become PNG, which keeps text sharp. Turned upright by the photo's orientation tag;
// no metadata is carried over. `mime` is the one CheckReceiptFile found. Throws ComError with a
// Rembiz.Receipt.* key when the file cannot be read.
ReceiptImage MakeReceiptThumbnail(std::string_view bytes, std::string_view mime, int size = 320);

// The first page of a PDF as a PNG `width` pixels wide for viewing (the height follows the page;
// a small page stops at 600 dpi, and a very long one is rendered narrower so that the image stays
// within 25 million pixels). Throws ComError with a Rembiz.Receipt.* key when the PDF cannot be
// read.
ReceiptImage RenderPdfFirstPage(std::string_view bytes, int width = 1400);

// A receipt as grey pixels, one byte each, rows without padding: what text recognition reads.
// Images are turned upright, flattened on white and scaled so that the long side lies between
// `min_long_side` (small images are enlarged, at most threefold) and `max_long_side`; a PDF's
// first page is rendered at 300 dpi within the same bound. Throws like MakeReceiptThumbnail.
struct GreyPage {
  std::string pixels;
  int width = 0, height = 0;
};
GreyPage ReceiptGreyPage(std::string_view bytes, std::string_view mime, int min_long_side = 1600,
                         int max_long_side = 3500);

}  // namespace rembiz::host
