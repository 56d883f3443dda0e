// Late-bound calls with the variants script engines make: numbers are taken as written,
// everything else is refused before the member runs, with a description that reaches the
// caller through the exception record and the thread's error information alike.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ComTestSupport.h"

using namespace comtest;

namespace {

constexpr DISPID kTrigger = 8, kSetChannelN = 14, kSetChannelVoltage = 15, kChangeParadigm = 1;
constexpr LCID kEnglish = 0x0409, kGerman = 0x0407;

std::wstring ThreadErrorDescription() {
    Ref<IErrorInfo> error;
    if (GetErrorInfo(0, error.Put()) != S_OK) return L"(none)";
    BSTR text = nullptr;
    error->GetDescription(&text);
    std::wstring description = text ? text : L"";
    SysFreeString(text);
    return description;
}

VARIANT Int(LONG value) {
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}
VARIANT Real(double value) {
    VARIANT v;
    V_VT(&v) = VT_R8;
    V_R8(&v) = value;
    return v;
}
VARIANT Of(VARTYPE type) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = type;
    return v;
}

class DispatchArgumentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Dll().module, nullptr);
        Ref<IClassFactory> factory;
        ASSERT_EQ(Dll().getClassObject(CLSID_Pulsyn, IID_IClassFactory, factory.PutVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.PutVoid()), S_OK);
        connected = wcsstr(GetCommandLineW(), L"COM7") != nullptr;
        if (connected) {
            VARIANT result;
            VariantInit(&result);
            DISPPARAMS none = {nullptr, nullptr, 0, 0};
            ASSERT_EQ(object->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
            connected = V_BOOL(&result) == VARIANT_TRUE;
        }
    }
    void TearDown() override {
        if (!object) return;
        VARIANT value = Of(VT_BOOL);
        V_BOOL(&value) = VARIANT_FALSE;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS put = {&value, &named, 1, 1};
        object->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr);
    }

    // The call with its arguments in the caller's order (Invoke takes them last first).
    HRESULT Call(DISPID member, std::vector<VARIANT> arguments, LCID locale = kEnglish) {
        std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
        DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        VARIANT result;
        VariantInit(&result);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);
        exception = EXCEPINFO{};
        argumentError = 12345;
        const HRESULT status =
            object->Invoke(member, IID_NULL, locale, DISPATCH_METHOD, &params, &result, &exception, &argumentError);
        acknowledged = V_VT(&result) == VT_BOOL && V_BOOL(&result) == VARIANT_TRUE;
        return status;
    }

    // A refused call: the description in the exception record and in the thread's error
    // information, which must agree.
    std::wstring Refusal(DISPID member, std::vector<VARIANT> arguments, LCID locale = kEnglish) {
        const HRESULT status = Call(member, std::move(arguments), locale);
        EXPECT_EQ(status, DISP_E_EXCEPTION);
        EXPECT_EQ(static_cast<uint32_t>(exception.scode), 0x8000FFFFu);
        EXPECT_STREQ(exception.bstrSource, L"QuorLib.Pulsyn");
        const std::wstring description = exception.bstrDescription ? exception.bstrDescription : L"";
        EXPECT_EQ(ThreadErrorDescription(), description);
        return description;
    }

    void ExpectTaken(DISPID member, std::vector<VARIANT> arguments, LCID locale = kEnglish) {
        if (!connected) return;  // without a device a taken call fails saying so
        EXPECT_EQ(Call(member, std::move(arguments), locale), S_OK)
            << (exception.bstrDescription ? std::string(exception.bstrDescription, exception.bstrDescription +
                                                                                    SysStringLen(exception.bstrDescription))
                                          : std::string());
    }

    Ref<IDispatch> object;
    bool connected = false;
    EXCEPINFO exception{};
    UINT argumentError = 0;
    bool acknowledged = false;
};

TEST_F(DispatchArgumentsTest, WholeNumberParametersRefuseFractionsAndNaNWhateverTheirVariantType) {
    EXPECT_EQ(Refusal(kTrigger, {Real(1.5)}), L"Type Error: Channel Parameter must be a whole number, not 1.5.");
    EXPECT_EQ(argumentError, 0u);
    EXPECT_EQ(Refusal(kSetChannelN, {Int(1), Real(NAN)}), L"Type Error: N Parameter must be a whole number, not NaN.");
    VARIANT currency = Of(VT_CY);
    V_CY(&currency).int64 = 25000;  // 2.5
    EXPECT_EQ(Refusal(kSetChannelN, {Int(1), currency}), L"Type Error: N Parameter must be a whole number, not 2.5.");
    VARIANT decimal = Of(VT_DECIMAL);
    VarDecFromR8(1.25, &V_DECIMAL(&decimal));
    V_VT(&decimal) = VT_DECIMAL;
    EXPECT_EQ(Refusal(kChangeParadigm, {decimal}),
              L"Type Error: ParadigmNumber Parameter must be a whole number, not 1.25.");
    VARIANT large = Of(VT_UI4);
    V_UI4(&large) = 0xFFFFFFFFu;
    EXPECT_EQ(Refusal(kTrigger, {large}),
              L"Range Error: Channel Parameter must be a whole number from -2147483648 to 2147483647, not 4294967295.");
    // The channel comes first: its argument is the last of the array.
    EXPECT_EQ(Refusal(kSetChannelVoltage, {Real(0.5), Real(2.5)}),
              L"Type Error: Channel Parameter must be a whole number, not 0.5.");
    EXPECT_EQ(argumentError, 1u);

    V_CY(&currency).int64 = 30000;  // 3, exactly
    ExpectTaken(kTrigger, {currency});
    ExpectTaken(kTrigger, {Real(2.0)});
}

const std::wstring kInvalidDecimal =
    L"an invalid decimal value (its scale is above 28 or its sign byte is not 0 or 128).";

VARIANT Decimal(ULONG high, ULONGLONG low, BYTE scale, BYTE sign) {
    VARIANT v;
    VariantInit(&v);
    V_DECIMAL(&v).Hi32 = high;
    V_DECIMAL(&v).Lo64 = low;
    V_DECIMAL(&v).scale = scale;
    V_DECIMAL(&v).sign = sign;
    V_VT(&v) = VT_DECIMAL;  // after the value: the type shares its first bytes
    return v;
}

// A decimal is judged by its own digits and scale: one that is no valid decimal is refused,
// never taken as the 0 the run time would make of it, and one a hair above a whole number
// is no whole number.
TEST_F(DispatchArgumentsTest, DecimalsAreJudgedByTheirOwnDigits) {
    const struct {
        VARIANT value;
        const wchar_t* refusal;  // of N; nullptr: taken
    } cases[] = {
        {Decimal(0, 5, 29, 0), nullptr},
        {Decimal(0, 5, 0, 0x01), nullptr},
        {Decimal(0x204FCE5Eu, 0x3E25026110000001ull, 28, 0),  // 1.0000000000000000000000000001
         L"Type Error: N Parameter must be a whole number, not 1.0000000000000000000000000001."},
        {Decimal(0, 125, 2, DECIMAL_NEG), L"Type Error: N Parameter must be a whole number, not -1.25."},
        {Decimal(0xFFFFFFFFu, ~0ull, 0, 0),
         L"Range Error: N Parameter must be a whole number from -2147483648 to 2147483647, not "
         L"79228162514264337593543950335."},
        {Decimal(0, 500, 2, 0), L""},           // 5
        {Decimal(0, 0, 3, DECIMAL_NEG), L""},  // -0
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        if (!cases[i].refusal) {
            EXPECT_EQ(Refusal(kSetChannelN, {Int(1), cases[i].value}),
                      L"Type Error: N Parameter must be a whole number, not " + kInvalidDecimal);
            EXPECT_EQ(Refusal(kSetChannelVoltage, {Int(1), cases[i].value}),
                      L"Type Error: Voltage Parameter must be a number, not " + kInvalidDecimal);
        } else if (*cases[i].refusal) {
            EXPECT_EQ(Refusal(kSetChannelN, {Int(1), cases[i].value}), cases[i].refusal);
        } else {
            ExpectTaken(kSetChannelN, {Int(1), cases[i].value});
        }
    }
}

// Connected takes any whole number, 0 being False, as MATLAB writes p.Connected = 0.
TEST_F(DispatchArgumentsTest, ConnectedTakesAWholeNumberOfAnyType) {
    const auto put = [&](VARIANT value) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {&value, &named, 1, 1};
        SysFreeString(exception.bstrDescription);
        exception = EXCEPINFO{};
        return object->Invoke(3, IID_NULL, kEnglish, DISPATCH_PROPERTYPUT, &params, nullptr, &exception, nullptr);
    };
    EXPECT_EQ(put(Real(0.0)), S_OK);
    EXPECT_EQ(put(Decimal(0, 0, 2, 0)), S_OK);
    EXPECT_EQ(put(Real(0.5)), DISP_E_EXCEPTION);
    EXPECT_STREQ(exception.bstrDescription, L"Type Error: Connected must be True or False, not 0.5.");
    EXPECT_EQ(put(Decimal(0, 1, 30, 0)), DISP_E_EXCEPTION);
    EXPECT_STREQ(exception.bstrDescription, (L"Type Error: Connected must be True or False, not " + kInvalidDecimal).c_str());
}

TEST_F(DispatchArgumentsTest, WhatIsNoNumberIsRefusedAlsoByReference) {
    VARIANT truth = Of(VT_BOOL);
    V_BOOL(&truth) = VARIANT_TRUE;
    EXPECT_EQ(Refusal(kSetChannelVoltage, {Int(1), truth}),
              L"Type Error: Voltage Parameter must be a number, not the Boolean True.");
    EXPECT_EQ(argumentError, 0u);
    VARIANT date = Of(VT_DATE);
    V_DATE(&date) = 46370;
    EXPECT_EQ(Refusal(kSetChannelVoltage, {Int(1), date}), L"Type Error: Voltage Parameter must be a number, not a date.");
    EXPECT_EQ(Refusal(kSetChannelVoltage, {Int(1), Of(VT_EMPTY)}),
              L"Type Error: Voltage Parameter must be a number, not Empty (a variable that was never given a value: "
              L"check its spelling).");
    EXPECT_EQ(Refusal(kSetChannelVoltage, {Int(1), Of(VT_NULL)}),
              L"Type Error: Voltage Parameter must be a number, not Null.");
    VARIANT array = Of(VT_ARRAY | VT_VARIANT);
    V_ARRAY(&array) = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    EXPECT_EQ(Refusal(kSetChannelVoltage, {Int(1), array}),
              L"Type Error: Voltage Parameter must be a number, not an array.");
    SafeArrayDestroy(V_ARRAY(&array));
    VARIANT self = Of(VT_DISPATCH);
    V_DISPATCH(&self) = object.Get();
    EXPECT_EQ(Refusal(kTrigger, {self}), L"Type Error: Channel Parameter must be a whole number, not an object.");

    // VBScript passes variables by reference: the value behind the reference counts.
    VARIANT fraction = Real(1.5);
    VARIANT byReference = Of(VT_BYREF | VT_VARIANT);
    V_VARIANTREF(&byReference) = &fraction;
    EXPECT_EQ(Refusal(kTrigger, {byReference}), L"Type Error: Channel Parameter must be a whole number, not 1.5.");
    VARIANT_BOOL boolean = VARIANT_TRUE;
    VARIANT booleanReference = Of(VT_BYREF | VT_BOOL);
    V_BOOLREF(&booleanReference) = &boolean;
    EXPECT_EQ(Refusal(kTrigger, {booleanReference}),
              L"Type Error: Channel Parameter must be a whole number, not the Boolean True.");
    LONG three = 3;
    VARIANT integerReference = Of(VT_BYREF | VT_I4);
    V_I4REF(&integerReference) = &three;
    ExpectTaken(kTrigger, {integerReference});
    VARIANT whole = Int(4);
    V_VARIANTREF(&byReference) = &whole;
    ExpectTaken(kTrigger, {byReference});
}

TEST_F(DispatchArgumentsTest, TextIsOnePlainNumberInTheCallersLocale) {
    VARIANT comma = Of(VT_BSTR);
    V_BSTR(&comma) = SysAllocString(L"2,5");
    VARIANT point = Of(VT_BSTR);
    V_BSTR(&point) = SysAllocString(L"2.5");
    EXPECT_EQ(Refusal(kSetChannelVoltage, {Int(1), comma}, kEnglish),
              L"Type Error: Voltage Parameter must be a number, not the text \"2,5\" (text is taken only when it is one "
              L"plain number, with \".\" as the decimal separator and no digit grouping).");
    EXPECT_EQ(Refusal(kSetChannelVoltage, {Int(1), point}, kGerman),
              L"Type Error: Voltage Parameter must be a number, not the text \"2.5\" (text is taken only when it is one "
              L"plain number, with \",\" as the decimal separator and no digit grouping).");
    ExpectTaken(kSetChannelVoltage, {Int(1), point}, kEnglish);
    ExpectTaken(kSetChannelVoltage, {Int(1), comma}, kGerman);
    VariantClear(&comma);
    VariantClear(&point);
}

TEST_F(DispatchArgumentsTest, ACallerWithoutAnExceptionRecordGetsTheErrorInformation) {
    VARIANT argument = Real(1.5);
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    EXPECT_EQ(object->Invoke(kTrigger, IID_NULL, kEnglish, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(ThreadErrorDescription(), L"Type Error: Channel Parameter must be a whole number, not 1.5.");
    // A member's own failure keeps its description.
    argument = Int(10);
    EXPECT_EQ(object->Invoke(kChangeParadigm, IID_NULL, kEnglish, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(ThreadErrorDescription(), L"ChangeParadigm Error: ParadigmNumber Parameter must be between 1 and 9.");
}

}  // namespace
