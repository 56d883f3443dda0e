// TAutoObject: the automation object base of the control object (Windows only).
//
// It answers IUnknown (an atomic reference count; inside an aggregate the IUnknown methods
// of its interfaces go to the outer object while its own non-delegating IUnknown keeps its
// own count), ISupportErrorInfo, IProvideClassInfo and IDispatch, which it serves from the
// type information of IPulsyn in the library's own type library.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <atomic>

#include "QuorLib_TLB.h"
#include "server/ComPtr.h"

namespace quor {

class TAutoObject : public IPulsyn, public ISupportErrorInfo, public IProvideClassInfo {
public:
    // Outer: the controlling object of an aggregate, or null.
    explicit TAutoObject(IUnknown* Outer = nullptr);
    virtual ~TAutoObject();
    TAutoObject(const TAutoObject&) = delete;
    TAutoObject& operator=(const TAutoObject&) = delete;

    // The object's own IUnknown, which an aggregating outer object holds.
    IUnknown* InnerUnknown() { return &FInner; }

    // IUnknown of every interface: delegated to the controlling unknown.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                     UINT* puArgErr) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // IProvideClassInfo
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ppTI) override;

protected:
    // A reference to the object (to the aggregate it is part of) for as long as a call runs:
    // the messages a call lets run may carry the client's release of its last reference.
    // None for an object that no reference counts (made directly by the library's own
    // programs, which keep it for the call).
    TComPtr<IUnknown> HoldWhileRunning() {
        if (FController == &FInner && FRefCount == 0) return {};
        return TComPtr<IUnknown>::Share(FController);
    }

private:
    // The non-delegating IUnknown.
    struct TInnerUnknown : IUnknown {
        TAutoObject* FObject;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
    };

    HRESULT InnerQueryInterface(REFIID riid, void** ppv);

    TInnerUnknown FInner;
    IUnknown* FController;  // the outer object, or FInner
    std::atomic<ULONG> FRefCount{0};
};

}  // namespace quor
