// The automation boundary: no exception ever leaves an IPulsyn member.
#pragma once

#include <exception>

#include "base/Exceptions.h"
#include "base/MainThread.h"

namespace quor {

// The automation server's links, ports and windows live on the thread that first used the
// library (the host's apartment thread); serial events and window messages are delivered
// there. A call from any other thread would race them, so it is refused, saying what to do.
// Natively every thread may call: the objects and links serialise their own use.
inline void RequireLibraryThread() {
#ifdef QUOR_AUTOMATION
    if (IsAnotherThreadThanMain()) {
        throw Exception(
            "QuorLib.Pulsyn was called from another thread than the one that first used it: make every call from "
            "that thread. The object belongs to that thread (the class is apartment-threaded); a program that needs "
            "it on another thread hands it over through COM, which then carries each call back to the first thread.");
    }
#endif
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
