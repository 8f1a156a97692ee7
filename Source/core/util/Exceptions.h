#pragma once
// The exception family of the library; ClassName() is the name the logs print.

#include <exception>
#include <string>

namespace vorn {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  virtual const char* ClassName() const { return "Exception"; }

 private:
  std::string message_;
};

#define VORN_DECLARE_EXCEPTION(Name, Base)                   \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  }

VORN_DECLARE_EXCEPTION(EListError, Exception);
VORN_DECLARE_EXCEPTION(EConvertError, Exception);
VORN_DECLARE_EXCEPTION(EStreamError, Exception);
VORN_DECLARE_EXCEPTION(EFilerError, EStreamError);
VORN_DECLARE_EXCEPTION(EReadError, EFilerError);
VORN_DECLARE_EXCEPTION(EWriteError, EFilerError);
VORN_DECLARE_EXCEPTION(EAssertionFailed, Exception);
VORN_DECLARE_EXCEPTION(EZeroDivide, Exception);
VORN_DECLARE_EXCEPTION(EInvalidOp, Exception);
VORN_DECLARE_EXCEPTION(ERangeError, Exception);
VORN_DECLARE_EXCEPTION(EAbstractError, Exception);

#undef VORN_DECLARE_EXCEPTION

// The library's own error, carrying a result code.
class EVORN : public Exception {
 public:
  EVORN(std::string message, int code = 0) : Exception(std::move(message)), code_(code) {}
  const char* ClassName() const override { return "EVORN"; }
  int Code() const { return code_; }

 private:
  int code_;
};

// ClassName() for ours; the demangled type name for any other exception.
std::string ClassNameOf(const std::exception& e);

}  // namespace vorn
