// CChoice: registered with its frame; its operations are added with the subsystem.
#include "frame/frame.h"
#include "frame/registry.h"

namespace rembiz::basedata {
namespace {

constexpr frame::FrameVariant kVariant{
    .class_name = "CChoice",
    .task_code = "",
    .entry_task = frame::EntryTask::kPerOperation,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

const frame::ClassRegistrar kRegistrar("Rembiz.CChoice", [] {
  return std::make_unique<frame::EmptyClass>(kVariant);
});

}  // namespace
}  // namespace rembiz::basedata
