// CDistrict: registered with its frame; its operations are added with the subsystem.
#include "frame/frame.h"
#include "frame/registry.h"

namespace rembiz::basedata {
namespace {

constexpr frame::FrameVariant kVariant{
    .class_name = "CDistrict",
    .task_code = "EC0106",
    .entry_task = frame::EntryTask::kAfterConnect,
    .transactions = frame::Transactions::kWholeRequest,
    .error_form = frame::ErrorForm::kStandard,
    .busy_message = false,
};

const frame::ClassRegistrar kRegistrar("Rembiz.CDistrict", [] {
  return std::make_unique<frame::EmptyClass>(kVariant);
});

}  // namespace
}  // namespace rembiz::basedata
