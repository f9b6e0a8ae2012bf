// Column layouts of lists, per layout key: a layout for everyone and, once saved, one per
// operator. The layout travels as XML:
//   <columns key='…'><column name='…' caption='…' order='1' width='1200' visible='1'
//    align='left' format='' total='0'/>…</columns>
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "host/session.h"

namespace rembiz::host {

class GridLayout {
 public:
  virtual ~GridLayout() = default;
  // `per_user`: read and save the operator's own layout (otherwise the one for everyone).
  virtual void Init(const Session& session, const std::string& connection_string,
                    bool per_user) = 0;
  // Mode 0: the layout for everyone; any other mode: the operator's own, or everyone's while
  // the operator has saved none. A key without a layout gives an empty `columns` element.
  virtual std::string GetColInfo(std::string_view key, int mode) = 0;
  // Replaces the layout of the key named in the XML; false when the XML is not a layout.
  virtual bool Save(std::string_view layout_xml) = 0;
};

std::unique_ptr<GridLayout> CreateGridLayout();

}  // namespace rembiz::host
