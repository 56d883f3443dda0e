#include "ErrorInfo.h"

#include <windows.h>
#include <oleauto.h>

#include "base/WideText.h"
#include "QuorLib_TLB.h"  // IID_IPulsyn
#include "server/QuorLibIds.h"

namespace quor {

void SetPulsynErrorInfo(const std::string& description) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    create->SetGUID(IID_IPulsyn);
    create->SetSource(const_cast<LPOLESTR>(ToWide(kPulsynProgId).c_str()));
    std::wstring text = ToWide(description);
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    create->SetHelpFile(nullptr);
    create->SetHelpContext(0);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

}  // namespace quor
