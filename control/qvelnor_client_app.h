#pragma once
// CQVelnorClientApp: the control library as a module. It starts and stops
// with the library and counts what keeps the library in use; the functions
// below are what the exported entry points (entry_points.cpp) do.

#include <atomic>
#include <string>

#include "platform/com_base.h"

class CQVelnorClientApp {
public:
    static CQVelnorClientApp& Instance();

    // Live objects and server locks; DllCanUnloadNow says S_OK when both are 0.
    void ObjectCreated() { m_objects.fetch_add(1, std::memory_order_relaxed); }
    void ObjectDestroyed() { m_objects.fetch_sub(1, std::memory_order_relaxed); }
    void Lock(bool lock) { m_locks.fetch_add(lock ? 1 : -1, std::memory_order_relaxed); }
    bool CanUnload() const {
        return m_objects.load(std::memory_order_relaxed) == 0 &&
               m_locks.load(std::memory_order_relaxed) == 0;
    }

private:
    std::atomic<int> m_objects{0};
    std::atomic<int> m_locks{0};
};

// Writes the type library, the control and its property page into the
// registry file at registryPath, with modulePath as their library, creating
// the two component categories when missing. Everything is written in one go.
// SELFREG_E_TYPELIB when the type library cannot be registered (no module
// path); SELFREG_E_CLASS when the registry cannot be read or written.
HRESULT RegisterQVelnorClient(const std::string& modulePath, const std::string& registryPath);
// Removes the two classes and the type library; the categories stay.
// SELFREG_E_CLASS when the registry cannot be read or written.
HRESULT UnregisterQVelnorClient(const std::string& registryPath);
// The class objects of the control and the property page.
HRESULT GetQVelnorClientClassObject(const Guid& clsid, const Guid& iid, void** out);
