#pragma once
// The report types the host offers.

#include <string>

#include "core/store/IndexList.h"
#include "core/store/Streamable.h"

namespace vorn {

// ReportType is the key: set before the item is listed, never changed while it is listed.
class TReportType : public TStreamable {
 public:
  static const TStreamClass& Class();
  const TStreamClass& StreamClass() const override { return Class(); }

  std::string ReportType;
};

// "Report Type": sorted by ReportType.
class TReportTypeQ : public TIndexListOf<TReportType> {
 public:
  TReportTypeQ();

 protected:
  void KeyOf(const TReportType& item, std::string& key) const override { key = item.ReportType; }
};

}  // namespace vorn
