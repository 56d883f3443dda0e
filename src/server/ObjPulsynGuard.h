// The automation boundary: no exception ever leaves an IPulsyn member.
#pragma once

#include <exception>

#include "base/Exceptions.h"

namespace quor {

template <class Body>
HRESULT RunGuarded(Body&& body) {
    try {
        body();
        return S_OK;
    } catch (const Exception& e) {
        return ReportFailure(e.Message(), e.StatusCode());
    } catch (const std::bad_alloc&) {
        return ReportFailure("Out of memory", 0);
    } catch (const std::exception& e) {
        return ReportFailure(e.what(), 0);
    } catch (...) {
        return ReportFailure("Unexpected failure inside QuorLib", 0);
    }
}

}  // namespace quor
