#include "core/refdata/ReportType.h"

namespace vorn {

const TStreamClass& TReportType::Class() {
  static const TStreamClass& description = MakeStreamClass<TReportType>(
      "TReportType", &TStreamable::Class(),
      TPropertyTable<TReportType>().String("ReportType", &TReportType::ReportType));
  return description;
}

TReportTypeQ::TReportTypeQ() : TIndexListOf<TReportType>("Report Type", &TReportType::Class()) {
  SetSorted(true);
  SetOwnsObjects(true);
}

}  // namespace vorn
