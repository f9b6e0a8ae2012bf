#include "basedata/coded_tree_class.h"

namespace rembiz::basedata {
namespace {

constexpr frame::OperationEntry kOperations[] = {
    frame::Op<&CodedTreeClass::TreeGet>("treeget"),
    frame::Op<&CodedTreeClass::RecordNew>("new"),
    frame::Op<&CodedTreeClass::RecordEdit>("edit"),
    frame::Op<&CodedTreeClass::RecordDel>("del"),
    frame::Op<&CodedTreeClass::RecordGet>("get"),
    frame::Op<&CodedTreeClass::OutputGet>("outputget"),
};

}  // namespace

std::span<const frame::OperationEntry> CodedTreeClass::Operations() const { return kOperations; }
std::span<const frame::OperationEntry> CodedTreeClass::PublicProcedures() const {
  return kOperations;
}

}  // namespace rembiz::basedata
