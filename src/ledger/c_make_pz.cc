// CMakePZ: registered with its frame; its operations are added with the subsystem.
#include "frame/frame.h"
#include "frame/registry.h"

namespace rembiz::ledger {
namespace {

constexpr frame::FrameVariant kVariant{
    .class_name = "CMakePZ",
    .task_code = "EC0206",
    .entry_task = frame::EntryTask::kAfterConnect,
    .transactions = frame::Transactions::kNone,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

const frame::ClassRegistrar kRegistrar("Rembiz.CMakePZ", [] {
  return std::make_unique<frame::EmptyClass>(kVariant);
});

}  // namespace
}  // namespace rembiz::ledger
