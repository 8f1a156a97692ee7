#pragma once
// Root of every item that a keyed list holds.

namespace vorn {

class TStreamable {
 public:
  virtual ~TStreamable() = default;
  virtual const char* ClassName() const { return "TStreamable"; }
};

}  // namespace vorn
