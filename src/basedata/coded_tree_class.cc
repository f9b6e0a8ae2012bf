#include "basedata/coded_tree_class.h"

namespace rembiz::basedata {
namespace {

using frame::Op;
using frame::OwnErrors;

constexpr frame::OperationEntry kOperations[] = {
    OwnErrors(Op<&CodedTreeClass::TreeGet>("treeget"), "treeGet"),
    OwnErrors(Op<&CodedTreeClass::RecordNew>("new"), "recordNew"),
    OwnErrors(Op<&CodedTreeClass::RecordEdit>("edit"), "recordEdit"),
    OwnErrors(Op<&CodedTreeClass::RecordDel>("del"), "recordDel"),
    OwnErrors(Op<&CodedTreeClass::RecordGet>("get"), "recordGet"),
    OwnErrors(Op<&CodedTreeClass::OutputGet>("outputget"), "outputGet"),
};

}  // namespace

std::span<const frame::OperationEntry> CodedTreeClass::Operations() const { return kOperations; }
std::span<const frame::OperationEntry> CodedTreeClass::PublicProcedures() const {
  return kOperations;
}

}  // namespace rembiz::basedata
