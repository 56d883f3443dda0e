// The automation boundary: no exception ever leaves an IPulsyn member.
#pragma once

#include <exception>

#include "base/Exceptions.h"
#include "base/MainThread.h"

namespace quor {

// The library's link, its port and its window live on the thread that first used the
// library (the host's apartment thread); serial events are delivered there. A call from any
// other thread would race them, so it is refused, saying what to do.
inline void RequireLibraryThread() {
    if (IsAnotherThreadThanMain()) {
        throw Exception(
            "QuorLib.Pulsyn was called from another thread than the one that first used it: make every call from "
            "that thread (the class is apartment-threaded; another thread must go through a marshalled interface).");
    }
}

template <class Body>
HRESULT RunGuarded(Body&& body) {
    try {
        RequireLibraryThread();
        body();
        return S_OK;
    } catch (const Exception& e) {
        return ReportFailure(e);
    } catch (const std::bad_alloc&) {
        return ReportFailure("Out of memory", 0);
    } catch (const std::exception& e) {
        return ReportFailure(e.what(), 0);
    } catch (...) {
        // Nothing may cross the boundary into the host, not even what no layer should throw.
        return ReportFailure("Unexpected failure inside QuorLib", 0);
    }
}

}  // namespace quor
