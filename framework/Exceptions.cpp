#include "framework/Exceptions.h"

#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>

const TClassInfo& Exception::StaticClassInfo() noexcept {
    static const TClassInfo info{"Exception", nullptr};
    return info;
}

bool Exception::InheritsFrom(std::string_view className) const noexcept {
    for (const TClassInfo* c = &ClassInfo(); c; c = c->Parent)
        if (className == c->Name) return true;
    return false;
}

static std::string Demangle(const char* name) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> d(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                                  &std::free);
    return status == 0 && d ? std::string(d.get()) : std::string(name);
}

std::string ExceptionClassName(const std::exception_ptr& e) {
    if (!e) return {};
    try {
        std::rethrow_exception(e);
    } catch (const Exception& x) {
        return x.ClassName();
    } catch (...) {
        const std::type_info* t = abi::__cxa_current_exception_type();
        return t ? Demangle(t->name()) : std::string("unknown");
    }
}

std::vector<std::string> ExceptionClassChain(const std::exception_ptr& e) {
    std::vector<std::string> chain;
    if (!e) return chain;
    try {
        std::rethrow_exception(e);
    } catch (const Exception& x) {
        for (const TClassInfo* c = &x.ClassInfo(); c; c = c->Parent)
            chain.emplace_back(c->Name);
    } catch (...) {
        chain.push_back(ExceptionClassName(e));
    }
    return chain;
}

std::string ExceptionMessage(const std::exception_ptr& e) {
    if (!e) return {};
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return x.what();
    } catch (...) {
        return {};
    }
}

void RaiseInOutError(const std::string& message) {
    throw EInOutError(message);
}
void RaiseFileCreateError(const std::string& message) {
    throw EFCreateError(message);
}
void RaiseFileOpenError(const std::string& message) {
    throw EFOpenError(message);
}
void RaiseConvertError(const std::string& message) {
    throw EConvertError(message);
}

#ifdef _WIN32
// A call of a pure virtual function (from a constructor or destructor). The static runtime of the
// Windows builds leaves such a slot as a weak reference that nothing resolves, so the call would
// jump to address 0; here it raises the runtime's abstract error instead.
extern "C" void __cxa_pure_virtual() {
    throw EAbstractError("Abstract Error");
}
#endif
