// The automation types of the IPulsyn interface. On Windows they are the platform's own;
// natively the same sizes and values, so the control object behaves identically.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <oleauto.h>
#include "QuorLib_TLB.h"  // generated from QuorLib.idl: IPulsyn, ChannelModes, ChannelShapes
#else
#include <cstdint>
using HRESULT = int32_t;
using VARIANT_BOOL = int16_t;
using BSTR = char16_t*;  // a 16-bit string, as the automation run time passes it
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;
using LONG = int32_t;
#define STDMETHODCALLTYPE
#endif

#ifndef _WIN32
// The 32-bit enumerations of the interface (on Windows they come from the type library).
enum ChannelModes : int32_t { cmOff = 0, cmFreeRun = 1, cmTrain = 2, cmTrig = 3, cmDC = 4, cmGate = 5, cmTwin = 6 };
enum ChannelShapes : int32_t { csMonopolar = 0, csBipolar = 1, csRamp = 2 };
#endif
