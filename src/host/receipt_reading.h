// Reading a receipt: its text by OCR (tesseract, Chinese and English) and what that text proposes
// for the claim row it belongs to. No database access; safe from several threads at once.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace rembiz::host {

// What reading a receipt proposes for its claim row; a field stays empty where nothing was found.
struct ReceiptReading {
  std::string amount;      // the total, "123.45"
  std::string date;        // "YYYY-MM-DD"
  std::string invoice;     // the invoice number: 8 to 20 digits found next to its label
  std::string text;        // what the OCR read
  bool timed_out = false;  // stopped at the time limit before the text was read
};

// Reads the receipt's first page (an image or a PDF, `mime` as CheckReceiptFile found it) and
// proposes its amount, date and invoice number. Returns with timed_out (and nothing else) once
// `limit` has passed: the time is checked between the steps and, during recognition, by
// tesseract after each word it reads. A call can therefore run past the limit by one step that
// cannot be interrupted: decoding the (bounded) image, loading the language data the first time
// (see PrepareReceiptReading), or one word, which on a receipt line is a few hundred
// milliseconds. Throws ComError with a Rembiz.Receipt.* key when the file cannot be read, and
// Rembiz.Receipt.Unavailable when the OCR languages are not installed.
ReceiptReading ReadReceipt(std::string_view bytes, std::string_view mime,
                           std::chrono::milliseconds limit);

// Loads the OCR's language data once, so that the first receipt read does not pay for it (a
// service may call it at start). Throws like ReadReceipt.
void PrepareReceiptReading();

// The proposals of a receipt's text (amount, date, invoice; `text` is left empty):
// - amount: a number next to the strongest label of a total (价税合计/小写/应付/实付/Amount due/
//   Grand total, then 合计/总计/Total, then 金额/Amount, then a currency sign), the largest
//   of the strongest; without any label the largest number written with two decimals;
// - date: the first date next to a label (开票日期/日期/Date), else the first date at all, written
//   2026年12月7日, 2026-12-07, 2026/12/07, 2026.12.07, 07/12/2026 (day first unless only the
//   other reading is a date), 7 Dec 2026 or Dec 7, 2026;
// - invoice: a run of 8 to 20 digits after 发票号码/号码/Invoice No/Receipt No/No. on its line or
//   on the next one.
ReceiptReading ProposeFromText(std::string_view text);

}  // namespace rembiz::host
