#include "ErrorInfo.h"

#include <windows.h>
#include <oleauto.h>

#include "base/WideText.h"
#include "server/ComPtr.h"
#include "QuorLib_TLB.h"  // IID_IPulsyn
#include "server/QuorLibIds.h"

namespace quor {

void SetPulsynErrorInfo(const std::string& description) {
    TComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.Put()))) return;
    create->SetGUID(IID_IPulsyn);
    create->SetSource(const_cast<LPOLESTR>(ToWide(kPulsynProgId).c_str()));
    std::wstring text = ToWide(description);
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    create->SetHelpFile(nullptr);
    create->SetHelpContext(0);
    TComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.PutVoid()))) SetErrorInfo(0, info.Get());
}

}  // namespace quor
