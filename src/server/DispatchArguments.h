// The arguments of one late-bound call, checked before the platform converts any of them
// (Windows only). The member's parameters come from the type library: the call must pass
// each of them, no more; a 32-bit integer or an enumeration is a whole-number parameter, a
// double a value parameter, a string a text parameter and a Boolean a Boolean, and each
// argument must be what LateBoundArguments.h accepts for its kind. Numbers and Booleans are
// passed on as exactly the value taken, text as it came.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace quor {

class TDispatchArguments {
public:
    // Checks the arguments; the first refused ends the check (Refusal()).
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

    // What to tell a caller that used a member in a way it cannot be used (a method read as
    // a property, a property called with arguments), for which the type information's
    // Invoke gives only a status; empty for a member that does not exist.
    static std::string MisuseMessage(ITypeInfo* info, DISPID member);

private:
    std::vector<VARIANT> FArguments;  // shallow copies: the caller keeps owning its values
    DISPPARAMS FParams{};
    UINT FIndex = 0;
    std::string FRefusal;
};

}  // namespace quor
