#include "control/qvelnor_client_app.h"

#include "control/prop_page.h"
#include "control/qvelnor_client_ctrl.h"
#include "platform/com_registry.h"

namespace {

// Module start and stop: the counters come up with the library and go with it.
CQVelnorClientApp theApp;

constexpr char kTypeLibName[] = "QVelnorClientLib";
constexpr char kTypeLibVersion[] = "1.0";
constexpr char kCategoryScriptable[] = "Controls that are safely scriptable";
constexpr char kCategoryInitializable[] = "Controls safely initializable from persistent data";

// One class object per class, living as long as the library; its references
// count as server locks.
template <typename Create>
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(Create create) : m_create(create) {}

    HRESULT QueryInterface(const Guid& iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    std::uint32_t AddRef() override {
        theApp.Lock(true);
        return 2;
    }
    std::uint32_t Release() override {
        theApp.Lock(false);
        return 1;
    }
    HRESULT CreateInstance(IUnknown* outer, const Guid& iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        return m_create(iid, out);
    }
    HRESULT LockServer(bool lock) override {
        theApp.Lock(lock);
        return S_OK;
    }

private:
    Create m_create;
};

HRESULT CreateCtrl(const Guid& iid, void** out) {
    auto* ctrl = new CQVelnorClientCtrl;
    const HRESULT hr = ctrl->QueryInterface(iid, out);
    if (Failed(hr))
        delete ctrl;  // no reference was ever taken
    return hr;
}

HRESULT CreatePropPage(const Guid& iid, void** out) {
    auto* page = new CQVelnorClientPropPage;
    page->AddRef();
    const HRESULT hr = page->QueryInterface(iid, out);
    page->Release();
    return hr;
}

ClassFactory<HRESULT (*)(const Guid&, void**)> g_ctrlFactory(&CreateCtrl);
ClassFactory<HRESULT (*)(const Guid&, void**)> g_pageFactory(&CreatePropPage);

}  // namespace

CQVelnorClientApp& CQVelnorClientApp::Instance() {
    return theApp;
}

HRESULT RegisterQVelnorClient(const std::string& modulePath, const std::string& registryPath) {
    // The type library lives in the module; without the module's path there
    // is nothing to register it by.
    if (modulePath.empty())
        return SELFREG_E_TYPELIB;
    RegistryFile reg;
    if (!reg.Load(registryPath))
        return SELFREG_E_CLASS;
    WriteTypeLibEntry(reg, {LIBID_QVelnorClientLib, kTypeLibName, kTypeLibVersion, modulePath});

    EnsureCategory(reg, CATID_SafeForScripting, kCategoryScriptable);
    EnsureCategory(reg, CATID_SafeForInitializing, kCategoryInitializable);
    ClassEntry ctrl;
    ctrl.clsid = CLSID_QVelnorClientCtrl;
    ctrl.progId = kCtrlProgId;
    ctrl.typeName = kCtrlTypeName;
    ctrl.modulePath = modulePath;
    ctrl.miscStatus = kCtrlMiscStatus;
    ctrl.typeLib = LIBID_QVelnorClientLib;
    ctrl.version = kTypeLibVersion;
    ctrl.control = true;
    ctrl.toolboxBitmap = modulePath + ", 1";
    ctrl.categories = {CATID_SafeForScripting, CATID_SafeForInitializing};
    WriteClassEntry(reg, ctrl);

    ClassEntry page;
    page.clsid = CLSID_QVelnorClientPropPage;
    page.progId = kPropPageProgId;
    page.typeName = kPropPageTypeName;
    page.modulePath = modulePath;
    WriteClassEntry(reg, page);

    return reg.Save(registryPath) ? S_OK : SELFREG_E_CLASS;
}

HRESULT UnregisterQVelnorClient(const std::string& registryPath) {
    RegistryFile reg;
    if (!reg.Load(registryPath))
        return SELFREG_E_CLASS;
    RemoveTypeLibEntry(reg, LIBID_QVelnorClientLib);
    RemoveClassEntry(reg, CLSID_QVelnorClientCtrl);
    RemoveClassEntry(reg, CLSID_QVelnorClientPropPage);
    return reg.Save(registryPath) ? S_OK : SELFREG_E_CLASS;
}

HRESULT GetQVelnorClientClassObject(const Guid& clsid, const Guid& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (clsid == CLSID_QVelnorClientCtrl)
        return g_ctrlFactory.QueryInterface(iid, out);
    if (clsid == CLSID_QVelnorClientPropPage)
        return g_pageFactory.QueryInterface(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}
