#pragma once
// The program's exception classes. Each knows its run-time class name and its ancestors' names,
// because the crash reporter filters exceptions by class name along the ancestor chain.
#include <exception>
#include <string>
#include <string_view>
#include <vector>

struct TClassInfo {
    const char* Name;
    const TClassInfo* Parent;
};

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

    static const TClassInfo& StaticClassInfo() noexcept;
    virtual const TClassInfo& ClassInfo() const noexcept { return StaticClassInfo(); }
    const char* ClassName() const noexcept { return ClassInfo().Name; }
    bool InheritsFrom(std::string_view className) const noexcept;

private:
    std::string FMessage;
};

#define ZE_EXCEPTION_CLASS(Cls, Base)                                                                        \
    class Cls : public Base {                                                                                \
    public:                                                                                                  \
        using Base::Base;                                                                                    \
        static const TClassInfo& StaticClassInfo() noexcept {                                                \
            static const TClassInfo info{#Cls, &Base::StaticClassInfo()};                                    \
            return info;                                                                                     \
        }                                                                                                    \
        const TClassInfo& ClassInfo() const noexcept override { return StaticClassInfo(); }                  \
    };

ZE_EXCEPTION_CLASS(EAbort, Exception)
ZE_EXCEPTION_CLASS(EInOutError, Exception)
ZE_EXCEPTION_CLASS(EConvertError, Exception)
ZE_EXCEPTION_CLASS(EOutOfMemory, Exception)
ZE_EXCEPTION_CLASS(EInvalidPointer, Exception)
ZE_EXCEPTION_CLASS(EInvalidCast, Exception)
ZE_EXCEPTION_CLASS(EInvalidOperation, Exception)
ZE_EXCEPTION_CLASS(EAbstractError, Exception)
ZE_EXCEPTION_CLASS(EListError, Exception)
ZE_EXCEPTION_CLASS(EOSError, Exception)
ZE_EXCEPTION_CLASS(EStreamError, Exception)
ZE_EXCEPTION_CLASS(EFileStreamError, EStreamError)
ZE_EXCEPTION_CLASS(EFCreateError, EFileStreamError)
ZE_EXCEPTION_CLASS(EFOpenError, EFileStreamError)
ZE_EXCEPTION_CLASS(EReadError, EStreamError)
ZE_EXCEPTION_CLASS(EWriteError, EStreamError)
ZE_EXCEPTION_CLASS(EExternal, Exception)
ZE_EXCEPTION_CLASS(EExternalException, EExternal)
ZE_EXCEPTION_CLASS(EAccessViolation, EExternal)
ZE_EXCEPTION_CLASS(EStackOverflow, EExternal)
ZE_EXCEPTION_CLASS(EPrivilege, EExternal)
ZE_EXCEPTION_CLASS(EControlC, EExternal)
ZE_EXCEPTION_CLASS(EIntError, EExternal)
ZE_EXCEPTION_CLASS(EDivByZero, EIntError)
ZE_EXCEPTION_CLASS(ERangeError, EIntError)
ZE_EXCEPTION_CLASS(EIntOverflow, EIntError)
ZE_EXCEPTION_CLASS(EMathError, EExternal)
ZE_EXCEPTION_CLASS(EInvalidOp, EMathError)
ZE_EXCEPTION_CLASS(EZeroDivide, EMathError)
ZE_EXCEPTION_CLASS(EOverflow, EMathError)
ZE_EXCEPTION_CLASS(EUnderflow, EMathError)

// The run-time class name of any exception object: ours by their class info, a foreign C++
// exception by its demangled type name.
std::string ExceptionClassName(const std::exception_ptr& e);
// The class name and its ancestors' names, for filtering by class.
std::vector<std::string> ExceptionClassChain(const std::exception_ptr& e);
std::string ExceptionMessage(const std::exception_ptr& e);

// Raise helpers; they never return (the stack tracer knows them by name).
[[noreturn]] void RaiseInOutError(const std::string& message);
[[noreturn]] void RaiseFileCreateError(const std::string& message);
[[noreturn]] void RaiseFileOpenError(const std::string& message);
[[noreturn]] void RaiseConvertError(const std::string& message);
