// The arguments of one late-bound call, checked before the platform converts any of them
// (Windows only). The member's parameter types come from the type library: a 32-bit integer
// or an enumeration is a whole-number parameter, a double a value parameter; each such
// argument must be what NumberArgument.h accepts, and is passed on as exactly that number.
// Arguments of other parameters are passed on as they came.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace quor {

class TDispatchArguments {
public:
    // Checks every number argument; the first refused ends the check (Refusal()).
    TDispatchArguments(ITypeInfo* info, DISPID member, WORD flags, const DISPPARAMS& params, LCID locale);
    TDispatchArguments(const TDispatchArguments&) = delete;
    TDispatchArguments& operator=(const TDispatchArguments&) = delete;

    // The arguments to hand to the type information's Invoke: the caller's, with every
    // checked number replaced by its exact value. Valid while this object lives.
    DISPPARAMS* Params() { return &FParams; }

    // The message that names the refused argument and what was passed; empty when every
    // argument was taken. RefusedIndex() says where it is in the caller's array.
    const std::string& Refusal() const { return FRefusal; }
    UINT RefusedIndex() const { return FIndex; }

private:
    std::vector<VARIANT> FArguments;  // shallow copies: the caller keeps owning its values
    DISPPARAMS FParams{};
    UINT FIndex = 0;
    std::string FRefusal;
};

}  // namespace quor
