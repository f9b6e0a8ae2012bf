// CAudit: registered with its frame; its operations are added with the subsystem.
#include "frame/frame.h"
#include "frame/registry.h"

namespace rembiz::approval {
namespace {

constexpr frame::FrameVariant kVariant{
    .class_name = "CAudit",
    .task_code = "",
    .entry_task = frame::EntryTask::kNone,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = true,
};

const frame::ClassRegistrar kRegistrar("Rembiz.CAudit", [] {
  return std::make_unique<frame::EmptyClass>(kVariant);
});

}  // namespace
}  // namespace rembiz::approval
