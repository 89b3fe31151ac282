// The program's exception classes. Ordinary C++ exceptions; every one carries its message text.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace runtime {

// The root of the program's errors: carries the message (UTF-8).
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// A text that is not a number of the wanted kind.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A floating-point value that cannot be converted, e.g. money outside the 64-bit range.
class EInvalidOp : public Exception {
public:
    EInvalidOp() : Exception("Invalid floating point operation") {}
};

// An object that does not offer the interface asked for.
class EIntfCastError : public Exception {
public:
    EIntfCastError() : Exception("Interface not supported") {}
};

// The failure status of an automation call; the message is the failure's text.
class EOleException : public Exception {
public:
    EOleException(std::string message, std::int32_t errorCode) : Exception(std::move(message)), FErrorCode(errorCode) {}
    std::int32_t ErrorCode() const noexcept { return FErrorCode; }

private:
    std::int32_t FErrorCode;
};

// The silent abort: the operator gave up; passed over without any message.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

} // namespace runtime
