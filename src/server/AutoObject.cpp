#include "AutoObject.h"

#include <new>
#include <optional>
#include <string>

#include "base/WideText.h"
#include "server/ComServer.h"
#include "server/DispatchArguments.h"
#include "server/ErrorInfo.h"
#include "server/QuorLibIds.h"

namespace quor {

namespace {

// A call refused before it reached the member: the thread's error information and, for a
// caller that asked for it, the exception record carry the message, as for a member that
// failed, so that every script engine shows it.
// `status` is the exception's code (the caller's error number).
HRESULT RefuseCall(const std::string& message, EXCEPINFO* exception, HRESULT status = E_UNEXPECTED) {
    SetPulsynErrorInfo(message);
    if (exception) {
        *exception = EXCEPINFO{};
        exception->bstrSource = SysAllocString(ToWide(kPulsynProgId).c_str());
        exception->bstrDescription = SysAllocString(ToWide(message).c_str());
        exception->scode = status;
    }
    return DISP_E_EXCEPTION;
}

}  // namespace

TAutoObject::TAutoObject(IUnknown* Outer) : FController(Outer ? Outer : &FInner) {
    FInner.FObject = this;
    TComServer::ObjectCreated();
}

TAutoObject::~TAutoObject() { TComServer::ObjectDestroyed(); }

HRESULT STDMETHODCALLTYPE TAutoObject::QueryInterface(REFIID riid, void** ppv) {
    return FController->QueryInterface(riid, ppv);
}
ULONG STDMETHODCALLTYPE TAutoObject::AddRef() { return FController->AddRef(); }
ULONG STDMETHODCALLTYPE TAutoObject::Release() { return FController->Release(); }

HRESULT TAutoObject::InnerQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = &FInner;
    } else if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IPulsyn)) {
        *ppv = static_cast<IPulsyn*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
        *ppv = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(riid, IID_IProvideClassInfo)) {
        *ppv = static_cast<IProvideClassInfo*>(this);
    } else {
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TAutoObject::TInnerUnknown::QueryInterface(REFIID riid, void** ppv) {
    return FObject->InnerQueryInterface(riid, ppv);
}
ULONG STDMETHODCALLTYPE TAutoObject::TInnerUnknown::AddRef() { return ++FObject->FRefCount; }
ULONG STDMETHODCALLTYPE TAutoObject::TInnerUnknown::Release() {
    const ULONG count = --FObject->FRefCount;
    if (count == 0) delete FObject;
    return count;
}

HRESULT STDMETHODCALLTYPE TAutoObject::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TAutoObject::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    TComPtr<ITypeInfo> info = TComServer::DispatchTypeInfo();
    if (!info) return TYPE_E_CANTLOADLIBRARY;
    *ppTInfo = info.Detach();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TAutoObject::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                                     DISPID* rgDispId) {
    const TComPtr<ITypeInfo> info = TComServer::DispatchTypeInfo();
    if (!info) return TYPE_E_CANTLOADLIBRARY;
    return DispGetIDsOfNames(info.Get(), rgszNames, cNames, rgDispId);
}

HRESULT STDMETHODCALLTYPE TAutoObject::Invoke(DISPID dispIdMember, REFIID, LCID lcid, WORD wFlags,
                                              DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                              EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    const TComPtr<IUnknown> hold = HoldWhileRunning();
    const TComPtr<ITypeInfo> info = TComServer::DispatchTypeInfo();
    if (!info) return TYPE_E_CANTLOADLIBRARY;
    // Scripts write properties either way; both reach the one property writer.
    if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        wFlags |= DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
    }
    DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};  // some callers pass none for a call without any
    // Arguments are taken as the caller wrote them: the platform's own conversion would turn
    // True, a date, Empty or 1.5 into a value nobody meant (see LateBoundArguments.h).
    std::optional<TDispatchArguments> arguments;
    try {
        arguments.emplace(info.Get(), dispIdMember, wFlags, pDispParams ? *pDispParams : noArguments, lcid);
    } catch (const std::bad_alloc&) {  // nothing else leaves the check
        return E_OUTOFMEMORY;
    }
    if (!arguments->Refusal().empty()) {
        if (puArgErr) *puArgErr = arguments->RefusedIndex();
        return RefuseCall(arguments->Refusal(), pExcepInfo);
    }
    const HRESULT status = info->Invoke(static_cast<IPulsyn*>(this), dispIdMember, wFlags, arguments->Params(),
                                        pVarResult, pExcepInfo, puArgErr);
    // A member used as it cannot be (Trigger read as a property, Connected called with an
    // argument) gets only a status from the type information; some script engines would
    // show an empty description. The status stays, with a description of what to do. (A
    // member's own failure has its status and description already.)
    if (HRESULT_FACILITY(status) == FACILITY_DISPATCH && FAILED(status) && status != DISP_E_EXCEPTION) {
        const std::string misuse = TDispatchArguments::MisuseMessage(info.Get(), dispIdMember);
        if (!misuse.empty()) {
            if (!pExcepInfo) {  // nothing carries an exception: the status says what happened
                SetPulsynErrorInfo(misuse);
                return status;
            }
            return RefuseCall(misuse, pExcepInfo, status);
        }
    }
    return status;
}

HRESULT STDMETHODCALLTYPE TAutoObject::InterfaceSupportsErrorInfo(REFIID riid) {
    const bool ours = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
                      IsEqualIID(riid, IID_IPulsyn) || IsEqualIID(riid, IID_ISupportErrorInfo) ||
                      IsEqualIID(riid, IID_IProvideClassInfo);
    return ours ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE TAutoObject::GetClassInfo(ITypeInfo** ppTI) {
    if (!ppTI) return E_POINTER;
    *ppTI = nullptr;
    TComPtr<ITypeInfo> info = TComServer::ClassTypeInfo();
    if (!info) return TYPE_E_CANTLOADLIBRARY;
    *ppTI = info.Detach();
    return S_OK;
}

}  // namespace quor
