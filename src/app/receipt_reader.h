// Reading receipts in the background: an upload queues its receipt here after its transaction
// committed, and one thread reads the queued receipts one at a time (OCR is slow and heavy),
// each within a time limit, and stores what it proposes for the row. A request never waits for
// it; a receipt that was not read (queue full, process stopped) is queued again when its voucher's
// receipts are listed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace rembiz::app {

class ReceiptReader {
 public:
  explicit ReceiptReader(std::chrono::milliseconds limit = std::chrono::seconds(20),
                         size_t max_waiting = 200);
  ~ReceiptReader();
  ReceiptReader(const ReceiptReader&) = delete;
  ReceiptReader& operator=(const ReceiptReader&) = delete;

  // Queues the receipt of the account database `connection_string`; false when it is queued
  // already or the queue is full.
  bool Enqueue(const std::string& connection_string, const std::string& receipt_guid);
  size_t Waiting() const;
  // Waits until nothing is queued or being read (tests), at most `timeout`.
  bool WaitIdle(std::chrono::milliseconds timeout);

 private:
  void Run();
  void Read(const std::string& connection_string, const std::string& receipt_guid);

  const std::chrono::milliseconds limit_;
  const size_t max_waiting_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<std::pair<std::string, std::string>> queue_;
  std::set<std::string> queued_;  // receipt GUIDs queued or being read
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace rembiz::app
