// The four entry points every component library exports: registration,
// unregistration, class objects and the unload check.

#include "control/qvelnor_client_app.h"
#include "platform/com_registry.h"
#include "platform/module_info.h"

#define QV_COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))

QV_COMPONENT_EXPORT HRESULT DllRegisterServer() {
    return RegisterQVelnorClient(ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer)),
                                 ComponentRegistryPath());
}

QV_COMPONENT_EXPORT HRESULT DllUnregisterServer() {
    return UnregisterQVelnorClient(ComponentRegistryPath());
}

QV_COMPONENT_EXPORT HRESULT DllGetClassObject(const Guid* clsid, const Guid* iid, void** out) {
    if (clsid == nullptr || iid == nullptr || out == nullptr)
        return E_POINTER;
    return GetQVelnorClientClassObject(*clsid, *iid, out);
}

QV_COMPONENT_EXPORT HRESULT DllCanUnloadNow() {
    return CQVelnorClientApp::Instance().CanUnload() ? S_OK : S_FALSE;
}
