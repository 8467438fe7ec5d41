// One run per machine. The lock is a file in the staging folder, which only
// administrators and the system may write, held open without sharing while
// the run lasts and deleted when its handle closes (also when the run is
// killed). A named object would not do: a process without administrator
// rights could make it first and hold it, and every run would end at once.
#pragma once

#include "base/Handles.h"

#include <windows.h>

class CRunLock {
public:
    enum class Claim {
        Taken,            // this run holds the machine
        AnotherRunning,   // another run holds it
        Refused,          // the staging folder was refused (LastError 1001 recorded)
    };

    Claim Take();
    bool Held() const { return m_hLock.valid(); }
    void Release() { m_hLock.reset(); }

private:
    zelto::ScopedFile m_hLock;
};
