// The component registry: identifiers, the registry file, registration of the
// control library through its exported entry points, and creation by class id
// through the registry (the library found, loaded and asked for its class).

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include <cstdlib>
#include <fstream>

#include "control/prop_page.h"
#include "control/qvelnor_client_app.h"
#include "control/qvelnor_client_ctrl.h"
#include "platform/com_registry.h"
#include "platform/module_info.h"
#include "tests/test_support.h"

extern "C" HRESULT DllRegisterServer();
extern "C" HRESULT DllUnregisterServer();
extern "C" HRESULT DllCanUnloadNow();

using testing_support::MakeTempDir;
using testing_support::PumpFor;

namespace {
// Released controls leave from the event loop (deleteLater); run those now.
void FlushDeletes() {
    PumpFor(5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
}  // namespace

namespace {

// Points QVELNOR_REGISTRY at a file of the test's own for its duration.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = MakeTempDir("registry");
        m_path = m_dir + "/components.ini";
        setenv("QVELNOR_REGISTRY", m_path.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("QVELNOR_REGISTRY");
        FlushDeletes();  // controls are deleted from the event loop
    }
    RegistryFile Reload() const {
        RegistryFile reg;
        EXPECT_TRUE(reg.Load(m_path));
        return reg;
    }
    static std::string LibraryPath() {
        return ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
    }

    std::string m_dir;
    std::string m_path;
};

IDispatch* CreateControl(HRESULT* hr) {
    void* p = nullptr;
    *hr = CreateInstanceFromRegistry(CLSID_QVelnorClientCtrl, IID_IDispatch, &p);
    return static_cast<IDispatch*>(p);
}

HRESULT Put(IDispatch* d, DISPID id, const std::u16string& value) {
    const Variant arg = Variant::String(value);
    return d->Invoke(id, DISPATCH_PROPERTYPUT, &arg, 1, nullptr);
}

Variant Get(IDispatch* d, DISPID id) {
    Variant v;
    EXPECT_EQ(d->Invoke(id, DISPATCH_PROPERTYGET, nullptr, 0, &v), S_OK);
    return v;
}

}  // namespace

TEST(GuidTest, TextRoundTripAndMalformedInput) {
    EXPECT_EQ(GuidToString(CLSID_QVelnorClientCtrl), "{A00A4A7F-EA8A-47C6-9A34-6D3E67381533}");
    EXPECT_EQ(GuidFromString("{a00a4a7f-ea8a-47c6-9a34-6d3e67381533}"), CLSID_QVelnorClientCtrl);
    EXPECT_EQ(GuidFromString("A00A4A7F-EA8A-47C6-9A34-6D3E67381533"), CLSID_QVelnorClientCtrl);
    const char* bad[] = {
        "",
        "{A00A4A7F-EA8A-47C6-9A34-6D3E67381533",    // unbalanced
        "{A00A4A7F-EA8A-47C6-9A34-6D3E6738153}",    // short
        "{A00A4A7F-EA8A-47C6-9A34-6D3E673815333}",  // long
        "{A00A4A7F+EA8A-47C6-9A34-6D3E67381533}",   // separator
        "{G00A4A7F-EA8A-47C6-9A34-6D3E67381533}",   // digit
        "{A00A4A7F-EA8A-47C6-9A3X-6D3E67381533}",
    };
    for (const char* text : bad) {
        EXPECT_FALSE(GuidFromString(text).has_value()) << text;
    }
}

TEST_F(RegistryTest, FileKeepsSectionsAndMatchesNamesWithoutCase) {
    RegistryFile reg;
    ASSERT_TRUE(reg.Load(m_path));  // not there yet: empty
    reg.Set("CLSID\\{X}", "InprocServer32", "/lib/a.so");
    reg.Set("clsid\\{x}", "ThreadingModel", "Apartment");
    reg.Set("Other", "Key", "line\nbreak");
    ASSERT_TRUE(reg.Save(m_path));

    RegistryFile back = Reload();
    EXPECT_EQ(back.Get("CLSID\\{X}", "inprocserver32"), "/lib/a.so");
    EXPECT_EQ(back.Get("CLSID\\{X}", "ThreadingModel"), "Apartment");
    EXPECT_EQ(back.Get("Other", "Key"), "line break");
    EXPECT_FALSE(back.Get("CLSID\\{X}", "Missing").has_value());
    back.RemoveSection("CLSID\\{x}");
    EXPECT_FALSE(back.HasSection("CLSID\\{X}"));
    EXPECT_TRUE(back.HasSection("other"));
}

TEST_F(RegistryTest, FileThatCannotBeReadOrWritten) {
    RegistryFile reg;
    EXPECT_FALSE(reg.Load(m_dir));  // a folder is not a registry
    // Under a regular file no folder can be made, not even by root.
    const std::string blocker = m_dir + "/plain";
    std::ofstream(blocker) << "x";
    EXPECT_TRUE(reg.Load(blocker + "/components.ini"));  // nothing there: empty
    reg.Set("A", "b", "c");
    EXPECT_FALSE(reg.Save(blocker + "/components.ini"));
}

TEST_F(RegistryTest, RegisterWritesClassesTypeLibraryAndCategories) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    const RegistryFile reg = Reload();
    const std::string ctrl = ClassSection(CLSID_QVelnorClientCtrl);
    const std::string lib = LibraryPath();
    ASSERT_FALSE(lib.empty());

    EXPECT_EQ(reg.Get(ctrl, "ProgID"), "QVELNORCLIENT.QVelnorClientCtrl.1");
    EXPECT_EQ(reg.Get(ctrl, "TypeName"), "QVelnorClient Control");
    EXPECT_EQ(reg.Get(ctrl, "InprocServer32"), lib);
    EXPECT_EQ(reg.Get(ctrl, "ThreadingModel"), "Apartment");
    EXPECT_EQ(reg.Get(ctrl, "MiscStatus"), std::to_string(0x20191));
    EXPECT_EQ(reg.Get(ctrl, "TypeLib"), GuidToString(LIBID_QVelnorClientLib));
    EXPECT_EQ(reg.Get(ctrl, "Implemented Categories"),
              GuidToString(CATID_SafeForScripting) + "," + GuidToString(CATID_SafeForInitializing));

    const std::string page = ClassSection(CLSID_QVelnorClientPropPage);
    EXPECT_EQ(reg.Get(page, "ProgID"), "QVELNORCLIENT.QVelnorClientPropPage.1");
    EXPECT_EQ(reg.Get(page, "TypeName"), "QVelnorClient Property Page");
    EXPECT_EQ(reg.Get(page, "InprocServer32"), lib);

    const std::string tlib = TypeLibSection(LIBID_QVelnorClientLib);
    EXPECT_EQ(reg.Get(tlib, "Name"), "QVelnorClientLib");
    EXPECT_EQ(reg.Get(tlib, "Version"), "1.0");

    EXPECT_EQ(reg.Get(CategorySection(CATID_SafeForScripting), "Description"),
              "Controls that are safely scriptable");
    EXPECT_EQ(reg.Get(CategorySection(CATID_SafeForInitializing), "Description"),
              "Controls safely initializable from persistent data");
    EXPECT_EQ(ClassIdFromProgId("QVELNORCLIENT.QVelnorClientCtrl.1"), CLSID_QVelnorClientCtrl);
    EXPECT_EQ(ClassIdFromProgId("QVELNORCLIENT.QVelnorClientPropPage.1"),
              CLSID_QVelnorClientPropPage);
}

TEST_F(RegistryTest, CategoriesAreCreatedOnlyWhenMissing) {
    {
        RegistryFile reg;
        ASSERT_TRUE(reg.Load(m_path));
        reg.Set(CategorySection(CATID_SafeForScripting), "Description",
                "Scriptable (already here)");
        reg.Set("Unrelated", "Key", "kept");
        ASSERT_TRUE(reg.Save(m_path));
    }
    ASSERT_EQ(DllRegisterServer(), S_OK);
    ASSERT_EQ(DllRegisterServer(), S_OK);  // twice: nothing doubles
    const RegistryFile reg = Reload();
    EXPECT_EQ(reg.Get(CategorySection(CATID_SafeForScripting), "Description"),
              "Scriptable (already here)");
    EXPECT_EQ(reg.Get(CategorySection(CATID_SafeForInitializing), "Description"),
              "Controls safely initializable from persistent data");
    EXPECT_EQ(reg.Get("Unrelated", "Key"), "kept");
}

TEST_F(RegistryTest, CreateByClassIdCallsThroughDispatchUntilUnregistered) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    HRESULT hr = E_FAIL;
    IDispatch* control = CreateControl(&hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

    const std::u16string names[] = {u"urlorip", u"PortNumber", u"UserID",
                                    u"UserPWD", u"SetAddr",    u"AboutBox"};
    DISPID ids[6] = {};
    ASSERT_EQ(control->GetIDsOfNames(names, 6, ids), S_OK);
    EXPECT_EQ(std::vector<DISPID>(ids, ids + 6), (std::vector<DISPID>{1, 2, 3, 4, 5, -552}));

    const std::u16string values[] = {u"192.0.2.10", u"50000", u"admin", u"secret"};
    for (DISPID id = 1; id <= 4; ++id) {
        EXPECT_EQ(Put(control, id, values[id - 1]), S_OK) << id;
    }
    for (DISPID id = 1; id <= 4; ++id) {
        EXPECT_EQ(Get(control, id), Variant::String(values[id - 1])) << id;
    }
    Variant result;
    ASSERT_EQ(control->Invoke(dispidSetAddr, DISPATCH_METHOD, nullptr, 0, &result), S_OK);
    EXPECT_EQ(result, Variant::Bool(true));
    control->Release();
    FlushDeletes();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(CreateControl(&hr), nullptr);
    EXPECT_EQ(hr, CLASS_E_CLASSNOTAVAILABLE);
    const RegistryFile reg = Reload();
    EXPECT_FALSE(reg.HasSection(ClassSection(CLSID_QVelnorClientCtrl)));
    EXPECT_FALSE(reg.HasSection(ClassSection(CLSID_QVelnorClientPropPage)));
    EXPECT_FALSE(reg.HasSection(ProgIdSection(kCtrlProgId)));
    EXPECT_FALSE(reg.HasSection(TypeLibSection(LIBID_QVelnorClientLib)));
    EXPECT_TRUE(reg.HasSection(CategorySection(CATID_SafeForScripting)));
    EXPECT_FALSE(ClassIdFromProgId(kCtrlProgId).has_value());
}

TEST_F(RegistryTest, DispatchRefusesWhatTheInterfaceDoesNotHave) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    HRESULT hr = E_FAIL;
    IDispatch* control = CreateControl(&hr);
    ASSERT_NE(control, nullptr);
    const Variant number = Variant::Int32(50000);
    const Variant text = Variant::String(u"x");
    struct Case {
        DISPID id;
        std::uint16_t flags;
        const Variant* args;
        std::size_t count;
        HRESULT expected;
    } cases[] = {
        {dispidPortNumber, DISPATCH_PROPERTYPUT, &number, 1, DISP_E_TYPEMISMATCH},
        {dispidPortNumber, DISPATCH_PROPERTYPUT, nullptr, 0, DISP_E_BADPARAMCOUNT},
        {dispidSetAddr, DISPATCH_METHOD, &text, 1, DISP_E_BADPARAMCOUNT},
        {dispidSetAddr, DISPATCH_PROPERTYPUT, &text, 1, DISP_E_MEMBERNOTFOUND},
        {6, DISPATCH_METHOD, nullptr, 0, DISP_E_MEMBERNOTFOUND},
        {DISPID_VALUE, DISPATCH_PROPERTYGET, nullptr, 0, DISP_E_MEMBERNOTFOUND},
    };
    for (const Case& c : cases) {
        Variant out;
        EXPECT_EQ(control->Invoke(c.id, c.flags, c.args, c.count, &out), c.expected) << c.id;
    }
    EXPECT_EQ(Get(control, dispidPortNumber), Variant::String(u""));  // unchanged

    const std::u16string names[] = {u"URLorIP", u"Connect"};
    DISPID ids[2] = {};
    EXPECT_EQ(control->GetIDsOfNames(names, 2, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], dispidURLorIP);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    control->Release();
}

TEST_F(RegistryTest, PropertyPageByClassId) {
    ASSERT_EQ(DllRegisterServer(), S_OK);
    void* p = nullptr;
    ASSERT_EQ(CreateInstanceFromRegistry(CLSID_QVelnorClientPropPage, IID_IPropertyPage, &p), S_OK);
    auto* page = static_cast<IPropertyPage*>(p);
    std::u16string caption;
    EXPECT_EQ(page->GetCaption(&caption), S_OK);
    EXPECT_EQ(caption, kPropPageCaption);
    void* q = nullptr;
    EXPECT_EQ(page->QueryInterface(IID_IDispatch, &q), E_NOINTERFACE);
    EXPECT_EQ(q, nullptr);
    page->Release();
}

TEST_F(RegistryTest, RegistrationFailuresReportTheirStep) {
    // The registry under a regular file can be neither read into nor written.
    const std::string blocker = m_dir + "/plain";
    std::ofstream(blocker) << "x";
    setenv("QVELNOR_REGISTRY", (blocker + "/components.ini").c_str(), 1);
    EXPECT_EQ(DllRegisterServer(), SELFREG_E_CLASS);
    EXPECT_EQ(DllUnregisterServer(), SELFREG_E_CLASS);
    // A registry that is a folder cannot even be read.
    EXPECT_EQ(RegisterQVelnorClient(LibraryPath(), m_dir), SELFREG_E_CLASS);
    // Without the module's path the type library has nothing to point to.
    EXPECT_EQ(RegisterQVelnorClient("", m_path), SELFREG_E_TYPELIB);
    RegistryFile reg;
    ASSERT_TRUE(reg.Load(m_path));
    EXPECT_FALSE(reg.HasSection(ClassSection(CLSID_QVelnorClientCtrl)));
}

TEST_F(RegistryTest, CreationFailsForMissingOrForeignLibraries) {
    RegistryFile reg;
    ASSERT_TRUE(reg.Load(m_path));
    ClassEntry missing;
    missing.clsid = MakeGuid("11111111-2222-3333-4444-555555555555");
    missing.modulePath = m_dir + "/libNotThere.so";
    WriteClassEntry(reg, missing);
    ClassEntry foreign;  // loads, but is no component library
    foreign.clsid = MakeGuid("66666666-7777-8888-9999-AAAAAAAAAAAA");
    foreign.modulePath = ModulePathOf(reinterpret_cast<const void*>(&ModulePathOf));
    WriteClassEntry(reg, foreign);
    ASSERT_TRUE(reg.Save(m_path));

    void* p = nullptr;
    EXPECT_EQ(CreateInstanceFromRegistry(missing.clsid, IID_IUnknown, &p), CO_E_DLLNOTFOUND);
    EXPECT_NE(LastModuleLoadError(), "");
    EXPECT_EQ(CreateInstanceFromRegistry(foreign.clsid, IID_IUnknown, &p), CO_E_ERRORINDLL);
    EXPECT_EQ(CreateInstanceFromRegistry(MakeGuid("00000000-0000-0000-0000-000000000001"),
                                         IID_IUnknown, &p),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
}

TEST(RegistryPathTest, EnvironmentChoosesTheFile) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(xdg, nullptr);
    unsetenv("QVELNOR_REGISTRY");
    EXPECT_EQ(ComponentRegistryPath(), std::string(xdg) + "/QVelnor/components.ini");
    setenv("QVELNOR_REGISTRY", "/somewhere/reg.ini", 1);
    EXPECT_EQ(ComponentRegistryPath(), "/somewhere/reg.ini");
    unsetenv("QVELNOR_REGISTRY");
}
