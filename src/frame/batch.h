// Operations over many vouchers that answer a refusal for one voucher and go on with the next
// (approving a list, for one). Each item runs through Run: a refusal it raises (error 9000) is
// recorded against the item and the batch goes on; any other error ends the request at the
// frame's boundary, as in every operation.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/error.h"
#include "host/errors.h"

namespace rembiz::frame {

class Batch {
 public:
  struct Refusal {
    std::string item;  // what the answer names the item by (its GUID)
    std::string text;
  };
  // How a refusal raised by an item reads in the answer (its position, its number); as raised
  // without one.
  using Wording = std::function<std::string(const std::string& text)>;

  explicit Batch(Wording wording = {}) : wording_(std::move(wording)) {}

  // Runs one item; false when it was refused.
  template <class Body>
  bool Run(std::string item, Body&& body) {
    try {
      body();
      return true;
    } catch (const ComError& e) {
      if (e.Number() != kErrBusiness) throw;
      Refuse(std::move(item), wording_ ? wording_(e.Description()) : e.Description());
      return false;
    }
  }

  // Records a refusal worded by the caller.
  void Refuse(std::string item, std::string text);

  const std::vector<Refusal>& Refusals() const { return refusals_; }

  // The refusals as the list answers carry them: "<Error><err guid='…' msg='…' />…</Error>",
  // "" without refusals.
  std::string ErrorListXml() const;

  // Raises the refusals as one error 9000, one a line, when there are any.
  void RaiseRefusals() const;

 private:
  Wording wording_;
  std::vector<Refusal> refusals_;
};

}  // namespace rembiz::frame
