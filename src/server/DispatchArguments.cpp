#include "DispatchArguments.h"

#include <oleauto.h>

#include <charconv>
#include <limits>
#include <optional>

#include "base/Exceptions.h"
#include "base/WideText.h"
#include "server/ComPtr.h"
#include "server/LateBoundArguments.h"

namespace quor {

namespace {

enum class TParameterKind { Unchecked, WholeNumber, Number, Text, Boolean };

// A variant's value with every by-reference level taken away (VBScript passes variables by
// reference). Owns a copy only when it had to make one.
class TPlainValue {
public:
    explicit TPlainValue(const VARIANT& argument) {
        const VARIANT* value = &argument;
        for (int level = 0; level < 8 && V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value); ++level) {
            value = V_VARIANTREF(value);
        }
        VariantInit(&FCopy);
        if ((V_VT(value) & VT_BYREF) && SUCCEEDED(VariantCopyInd(&FCopy, const_cast<VARIANT*>(value)))) value = &FCopy;
        FValue = value;
    }
    ~TPlainValue() { VariantClear(&FCopy); }
    TPlainValue(const TPlainValue&) = delete;
    TPlainValue& operator=(const TPlainValue&) = delete;
    const VARIANT& operator*() const { return *FValue; }

private:
    VARIANT FCopy;
    const VARIANT* FValue;
};

TPassedArgument Integer(int64_t value) { return TPassedArgument::OfInteger(value); }

// Divides a 96-bit magnitude (most significant part first) by ten; returns the remainder.
uint32_t DivideByTen(uint32_t (&magnitude)[3]) {
    uint64_t remainder = 0;
    for (uint32_t& part : magnitude) {
        const uint64_t current = (remainder << 32) | part;
        part = static_cast<uint32_t>(current / 10);
        remainder = current % 10;
    }
    return static_cast<uint32_t>(remainder);
}

// A decimal is a 96-bit magnitude, a sign byte and a power of ten to divide by. One with
// a scale above 28 or another sign byte than 0 or 0x80 is no number: the run time's
// conversions would make it 0. A decimal is judged by its own digits, never by a rounded
// conversion, which would take 1.0000000000000000000000000001 for 1.
TPassedArgument FromDecimal(const DECIMAL& value) {
    if (value.scale > 28 || (value.sign != 0 && value.sign != DECIMAL_NEG)) {
        return TPassedArgument::Of(TPassedArgument::TKind::InvalidDecimal);
    }
    // Its digits, least significant first, then as written: "-12.5", "0.0001", "3".
    uint32_t magnitude[3] = {value.Hi32, value.Mid32, value.Lo32};
    std::string digits;
    while (magnitude[0] || magnitude[1] || magnitude[2] || digits.size() <= value.scale) {
        digits += static_cast<char>('0' + DivideByTen(magnitude));
    }
    size_t fraction = value.scale;
    while (fraction > 0 && digits[value.scale - fraction] == '0') --fraction;  // trailing zeros of the fraction
    std::string exact(digits.rbegin(), digits.rend() - value.scale);
    if (fraction > 0) exact += "." + std::string(digits.rend() - value.scale, digits.rend() - (value.scale - fraction));
    const bool negative = value.sign == DECIMAL_NEG && exact != "0";
    if (negative) exact.insert(0, "-");
    if (fraction == 0) {
        int64_t whole = 0;
        const char* end = exact.data() + exact.size();
        const std::from_chars_result read = std::from_chars(exact.data(), end, whole);
        if (read.ec == std::errc() && read.ptr == end) return Integer(whole);  // else past 64 bits
    }
    // A fraction, or a whole number past 64 bits: its nearest double is what a value
    // parameter takes.
    DECIMAL copy = value;
    double real = 0;
    if (FAILED(VarR8FromDec(&copy, &real))) return TPassedArgument::Of(TPassedArgument::TKind::InvalidDecimal);
    TPassedArgument passed = TPassedArgument::OfReal(real);
    passed.Exact = exact;
    return passed;
}

// What the caller passed, judged by the variant type alone.
TPassedArgument Describe(const VARIANT& argument) {
    using TKind = TPassedArgument::TKind;
    const TPlainValue plain(argument);
    const VARIANT& v = *plain;
    if (V_VT(&v) & VT_ARRAY) return TPassedArgument::Of(TKind::Array);
    switch (V_VT(&v)) {
        case VT_EMPTY: return TPassedArgument::Of(TKind::Empty);
        case VT_NULL: return TPassedArgument::Of(TKind::Null);
        case VT_I1: return Integer(V_I1(&v));
        case VT_UI1: return Integer(V_UI1(&v));
        case VT_I2: return Integer(V_I2(&v));
        case VT_UI2: return Integer(V_UI2(&v));
        case VT_I4: return Integer(V_I4(&v));
        case VT_UI4: return Integer(V_UI4(&v));
        case VT_INT: return Integer(V_INT(&v));
        case VT_UINT: return Integer(V_UINT(&v));
        case VT_I8: return Integer(V_I8(&v));
        case VT_UI8:
            if (V_UI8(&v) <= static_cast<ULONG64>(std::numeric_limits<int64_t>::max())) {
                return Integer(static_cast<int64_t>(V_UI8(&v)));
            }
            return TPassedArgument::OfReal(static_cast<double>(V_UI8(&v)));
        case VT_R4: return TPassedArgument::OfReal(V_R4(&v));
        case VT_R8: return TPassedArgument::OfReal(V_R8(&v));
        case VT_CY: {  // a fixed-point number with four decimals
            const LONG64 units = V_CY(&v).int64;
            if (units % 10000 == 0) return Integer(units / 10000);
            return TPassedArgument::OfReal(static_cast<double>(units) / 10000.0);
        }
        case VT_DECIMAL: return FromDecimal(V_DECIMAL(&v));
        case VT_BSTR: {
            const BSTR text = V_BSTR(&v);
            return TPassedArgument::OfText(text ? ToUtf8(std::wstring(text, SysStringLen(text))) : std::string());
        }
        case VT_BOOL: {
            TPassedArgument passed = TPassedArgument::Of(TKind::Boolean);
            passed.Boolean = V_BOOL(&v) != VARIANT_FALSE;
            return passed;
        }
        case VT_DATE: return TPassedArgument::Of(TKind::Date);
        case VT_DISPATCH:
        case VT_UNKNOWN: return TPassedArgument::Of(TKind::Object);
        case VT_ERROR:
            if (V_ERROR(&v) == DISP_E_PARAMNOTFOUND) return TPassedArgument::Of(TKind::Missing);
            break;
        default: break;
    }
    TPassedArgument passed = TPassedArgument::Of(TKind::Other);
    passed.VariantType = V_VT(&v);
    return passed;
}

TParameterKind KindOf(ITypeInfo* info, const ELEMDESC& parameter) {
    if (parameter.paramdesc.wParamFlags & (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) return TParameterKind::Unchecked;
    switch (parameter.tdesc.vt) {
        case VT_I4: return TParameterKind::WholeNumber;
        case VT_R8: return TParameterKind::Number;
        case VT_BSTR: return TParameterKind::Text;
        case VT_BOOL: return TParameterKind::Boolean;
        case VT_USERDEFINED: {  // the enumerations of modes and shapes
            TComPtr<ITypeInfo> referenced;
            TYPEATTR* attributes = nullptr;
            if (FAILED(info->GetRefTypeInfo(parameter.tdesc.hreftype, referenced.Put())) ||
                FAILED(referenced->GetTypeAttr(&attributes))) {
                return TParameterKind::Unchecked;
            }
            const bool enumeration = attributes->typekind == TKIND_ENUM;
            referenced->ReleaseTypeAttr(attributes);
            return enumeration ? TParameterKind::WholeNumber : TParameterKind::Unchecked;
        }
        default: return TParameterKind::Unchecked;
    }
}

// The member's description for this kind of call, or none.
class TFunction {
public:
    TFunction(ITypeInfo* info, DISPID member, WORD flags) : FInfo(info) {
        TYPEATTR* attributes = nullptr;
        if (FAILED(info->GetTypeAttr(&attributes))) return;
        const WORD functions = attributes->cFuncs;
        info->ReleaseTypeAttr(attributes);
        for (UINT i = 0; i < functions && !FDescription; ++i) {
            FUNCDESC* description = nullptr;
            if (FAILED(info->GetFuncDesc(i, &description))) continue;
            const bool method = description->invkind == INVOKE_FUNC && (flags & DISPATCH_METHOD);
            const bool put = description->invkind == INVOKE_PROPERTYPUT && (flags & DISPATCH_PROPERTYPUT);
            if (description->memid == member && (method || put)) {
                FDescription = description;
            } else {
                info->ReleaseFuncDesc(description);
            }
        }
    }
    ~TFunction() {
        if (FDescription) FInfo->ReleaseFuncDesc(FDescription);
    }
    TFunction(const TFunction&) = delete;
    TFunction& operator=(const TFunction&) = delete;

    const FUNCDESC* operator->() const { return FDescription; }
    explicit operator bool() const { return FDescription != nullptr; }

    // The member's name and its parameters' names in the type library ("Trigger",
    // "Channel"); an unnamed parameter (a property's value) is named by the member.
    std::vector<std::string> Names() const {
        std::vector<BSTR> names(FDescription->cParams + 1u, nullptr);
        UINT count = 0;
        FInfo->GetNames(FDescription->memid, names.data(), static_cast<UINT>(names.size()), &count);
        std::vector<std::string> result;
        for (UINT i = 0; i < names.size(); ++i) {
            result.push_back(i < count && names[i] ? ToUtf8(names[i]) : result.empty() ? "Value" : result[0]);
            SysFreeString(names[i]);
        }
        return result;
    }

    // Of the names above, those of the parameters a caller passes: all but the result.
    std::vector<std::string> PassedParameters(const std::vector<std::string>& names) const {
        std::vector<std::string> passed;
        for (SHORT i = 0; i < FDescription->cParams; ++i) {
            if (!(FDescription->lprgelemdescParam[i].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) {
                passed.push_back(names[i + 1]);
            }
        }
        return passed;
    }

private:
    ITypeInfo* FInfo;
    FUNCDESC* FDescription = nullptr;
};

TNumberFormat FormatOf(LCID locale) {
    wchar_t separator[8] = {};
    if (GetLocaleInfoW(locale, LOCALE_SDECIMAL, separator, 8) <= 1 &&
        GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) <= 1) {
        return {};
    }
    return {ToUtf8(separator)};
}

// Checks every argument a parameter type says how to judge; raises for the first refused,
// with `index` at it. Replaces each checked number in `arguments` by its exact value.
void CheckArguments(ITypeInfo* info, const TFunction& function, WORD flags, const DISPPARAMS& params, LCID locale,
                    std::vector<VARIANT>& arguments, UINT& index) {
    const std::vector<std::string> names = function.Names();
    index = 0;
    RequireArgumentCount(names[0], function.PassedParameters(names), params.cArgs, (flags & DISPATCH_PROPERTYGET) != 0);
    std::optional<TNumberFormat> format;  // read once, when a text is met
    for (UINT at = 0; at < params.cArgs; ++at) {
        // Arguments come last first; named ones, at the front, say which parameter they are
        // (a property's value is named as such).
        LONG parameter = static_cast<LONG>(params.cArgs - 1 - at);
        if (at < params.cNamedArgs) {
            parameter = params.rgdispidNamedArgs[at] == DISPID_PROPERTYPUT ? function->cParams - 1
                                                                              : params.rgdispidNamedArgs[at];
        }
        if (parameter < 0 || parameter >= function->cParams) continue;
        const TParameterKind kind = KindOf(info, function->lprgelemdescParam[parameter]);
        if (kind == TParameterKind::Unchecked) continue;
        index = at;
        const std::string& name = names[parameter + 1];
        const TPassedArgument passed = Describe(params.rgvarg[at]);
        if (passed.Kind == TPassedArgument::TKind::Text && !format) format = FormatOf(locale);
        const TNumberFormat numbers = format.value_or(TNumberFormat{});
        VARIANT& exact = arguments[at];
        switch (kind) {
            case TParameterKind::WholeNumber: {
                const int32_t value = WholeNumberArgument(name, passed, numbers);
                VariantInit(&exact);
                V_VT(&exact) = VT_I4;
                V_I4(&exact) = value;
                break;
            }
            case TParameterKind::Number: {
                const double value = NumberArgument(name, passed, numbers);
                VariantInit(&exact);
                V_VT(&exact) = VT_R8;
                V_R8(&exact) = value;
                break;
            }
            case TParameterKind::Boolean: {
                const bool value = BooleanArgument(name, passed);
                VariantInit(&exact);
                V_VT(&exact) = VT_BOOL;
                V_BOOL(&exact) = value ? VARIANT_TRUE : VARIANT_FALSE;
                break;
            }
            case TParameterKind::Text: RequireTextArgument(name, passed); break;  // passed on as it came
            case TParameterKind::Unchecked: break;
        }
    }
}

}  // namespace

TDispatchArguments::TDispatchArguments(ITypeInfo* info, DISPID member, WORD flags, const DISPPARAMS& params,
                                       LCID locale)
    : FArguments(params.rgvarg, params.rgvarg + params.cArgs) {
    FParams = params;
    FParams.rgvarg = FArguments.data();
    const TFunction function(info, member, flags);
    if (!function) return;  // the type information's own Invoke answers
    try {
        CheckArguments(info, function, flags, params, locale, FArguments, FIndex);
    } catch (const Exception& refusal) {
        FRefusal = refusal.Message();
    }
}

std::string TDispatchArguments::MisuseMessage(ITypeInfo* info, DISPID member) {
    const TFunction method(info, member, DISPATCH_METHOD);
    if (method) {
        const std::vector<std::string> names = method.Names();
        return MethodMisuseMessage(names[0], method.PassedParameters(names));
    }
    const TFunction property(info, member, DISPATCH_PROPERTYPUT);
    if (property) return property.Names()[0] + " is a property: read it, or set it to True or False.";
    return {};
}

}  // namespace quor
