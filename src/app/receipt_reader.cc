#include "app/receipt_reader.h"

#include <spdlog/spdlog.h>

#include "db/connection.h"
#include "db/error.h"
#include "db/text.h"
#include "host/receipt_reading.h"
#include "voucher/receipts.h"

namespace rembiz::app {

ReceiptReader::ReceiptReader(std::chrono::milliseconds limit, size_t max_waiting)
    : limit_(limit), max_waiting_(max_waiting), thread_([this] { Run(); }) {}

ReceiptReader::~ReceiptReader() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool ReceiptReader::Enqueue(const std::string& connection_string, const std::string& receipt_guid) {
  {
    std::lock_guard lock(mutex_);
    if (queue_.size() >= max_waiting_ || !queued_.insert(receipt_guid).second) return false;
    queue_.emplace_back(connection_string, receipt_guid);
  }
  wake_.notify_one();
  return true;
}

size_t ReceiptReader::Waiting() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

bool ReceiptReader::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, timeout, [this] { return queue_.empty() && !busy_; });
}

void ReceiptReader::Run() {
  for (;;) {
    std::pair<std::string, std::string> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
    }
    Read(job.first, job.second);
    {
      std::lock_guard lock(mutex_);
      queued_.erase(job.second);
      busy_ = false;
    }
    idle_.notify_all();
  }
}

// States as EC_Receipt.iReadState keeps them: 1 read, 2 found nothing, 3 out of time,
// 4 not readable.
void ReceiptReader::Read(const std::string& connection_string, const std::string& receipt_guid) {
  try {
    db::Connection cn;
    cn.Open(connection_string);
    db::Recordset rs = cn.Execute("select cMimeType, iReadState from EC_Receipt where GUID = " +
                                  db::SqlText(receipt_guid));
    if (rs.Eof() || rs.Value("iReadState").ToInt() != 0) return;
    std::optional<std::string> bytes =
        cn.ReadBytes(voucher::kReceiptFiles, voucher::kReceiptContent, "GUID", receipt_guid);
    if (!bytes) return;
    int state = 4;
    host::ReceiptReading reading;
    try {
      reading = host::ReadReceipt(*bytes, rs.Text("cMimeType"), limit_);
      state = reading.timed_out                                                           ? 3
              : reading.amount.empty() && reading.date.empty() && reading.invoice.empty() ? 2
                                                                                          : 1;
    } catch (const ComError& e) {
      spdlog::warn("receipt {}: not readable: {}", receipt_guid, e.Description());
    }
    cn.BeginTrans();
    voucher::StoreReceiptReading(cn, receipt_guid, state, reading.amount, reading.date,
                                 reading.invoice);
    cn.CommitTrans();
  } catch (const std::exception& e) {
    // The receipt stays waiting; listing its voucher's receipts queues it again.
    spdlog::warn("receipt {}: reading failed: {}", receipt_guid, e.what());
  }
}

}  // namespace rembiz::app
