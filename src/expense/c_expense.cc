// CExpense: registered with its frame; its operations are added with the subsystem.
#include "frame/frame.h"
#include "frame/registry.h"

namespace rembiz::expense {
namespace {

constexpr frame::FrameVariant kVariant{
    .class_name = "CExpense",
    .task_code = "EC020301",
    .entry_task = frame::EntryTask::kBeforeConnect,
    .transactions = frame::Transactions::kLazy,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = true,
};

const frame::ClassRegistrar kRegistrar("Rembiz.CExpense", [] {
  return std::make_unique<frame::EmptyClass>(kVariant);
});

}  // namespace
}  // namespace rembiz::expense
