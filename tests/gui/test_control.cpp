// The client control in a host window (offscreen): window creation with and
// without a hosting web browser, SetAddr, the close request both ways, object
// safety, persistence, the about box and the skin's load error.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <cstdlib>
#include <vector>

#include "control/config_files.h"
#include "control/qvelnor_client_app.h"
#include "control/qvelnor_client_ctrl.h"
#include "protocol/client_messages.h"
#include "protocol/velnor_client_view.h"
#include "tests/test_support.h"

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

// A window that writes down the messages it gets and does nothing else.
class RecordingWindow : public Window {
public:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == WM_CLOSE || msg == UM_CLOSE_REQUEST)
            m_received.push_back(msg);
        return Window::WindowProc(msg, wParam, lParam);
    }
    int Count(UINT msg) const {
        int n = 0;
        for (UINT m : m_received)
            n += m == msg ? 1 : 0;
        return n;
    }
    std::vector<UINT> m_received;
};

// A web browser that hosts the control: its top window and its bars.
class FakeBrowser final : public IWebBrowser, public IServiceProvider {
public:
    HRESULT QueryInterface(const Guid& iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IWebBrowser) {
            *out = static_cast<IWebBrowser*>(this);
        } else if (iid == IID_IServiceProvider) {
            *out = static_cast<IServiceProvider*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return ++m_refs; }
    std::uint32_t Release() override { return --m_refs; }  // lives on the test's stack
    HRESULT QueryService(const Guid& service, const Guid& iid, void** out) override {
        if (service != SID_SWebBrowserApp) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return QueryInterface(iid, out);
    }
    HRESULT GetHwnd(HWND* hwnd) override {
        *hwnd = m_top.hwnd();
        return S_OK;
    }
    HRESULT PutAddressBar(bool visible) override { return Bar(&m_addressBar, visible); }
    HRESULT PutMenuBar(bool visible) override { return Bar(&m_menuBar, visible); }
    HRESULT PutToolBar(bool visible) override { return Bar(&m_toolBar, visible); }

    RecordingWindow m_top;
    bool m_addressBar = true, m_menuBar = true, m_toolBar = true;
    std::uint32_t m_refs = 0;

private:
    static HRESULT Bar(bool* bar, bool visible) {
        *bar = visible;
        return S_OK;
    }
};

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        CQVelnorClientCtrl::SetModalRunner([this](QDialog& dialog) {
            if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
                m_boxes.push_back(box->text().toStdU16String());
            } else {
                auto* name = dialog.findChild<QLabel*>(QStringLiteral("aboutName"));
                m_boxes.push_back(name != nullptr ? name->text().toStdU16String() : u"?");
            }
        });
        m_host = new RecordingWindow;
        m_host->resize(200, 100);
        void* p = nullptr;
        ASSERT_EQ(GetQVelnorClientClassObject(CLSID_QVelnorClientCtrl, IID_IClassFactory, &p),
                  S_OK);
        auto* factory = static_cast<IClassFactory*>(p);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &p), S_OK);
        factory->Release();
        m_dispatch = static_cast<IDispatch*>(p);
        m_ctrl = static_cast<CQVelnorClientCtrl*>(m_dispatch);
    }
    void TearDown() override {
        SafeRelease(m_dispatch);
        FlushDeletes();
        delete m_host;
        CQVelnorClientCtrl::SetModalRunner({});
    }
    HRESULT CreateWindow(IUnknown* site = nullptr) {
        m_ctrl->SetClientSite(site);
        return m_ctrl->CreateControlWindow(m_host->hwnd(), ControlRect{}, &m_ctrlWnd);
    }
    void Put(DISPID id, const std::u16string& value) {
        const Variant arg = Variant::String(value);
        ASSERT_EQ(m_dispatch->Invoke(id, DISPATCH_PROPERTYPUT, &arg, 1, nullptr), S_OK);
    }
    std::vector<std::u16string> Form() const {
        VelnorClientView* v = m_ctrl->View();
        return {v->EditText(IDC_ADDRESS), v->EditText(IDC_PORT), v->EditText(IDC_USER),
                v->EditText(IDC_PASSWORD)};
    }

    RecordingWindow* m_host = nullptr;
    IDispatch* m_dispatch = nullptr;
    CQVelnorClientCtrl* m_ctrl = nullptr;
    HWND m_ctrlWnd = kNoWindow;
    std::vector<std::u16string> m_boxes;
};

}  // namespace

TEST_F(ControlTest, WindowCreationBuildsTheViewAndFillsTheForm) {
    // The connection file fills the form; given properties win over it.
    config_files::ConnectionForm saved;
    saved.url = u"10.1.1.1";
    saved.port = u"7000";
    saved.user = u"fileuser";
    saved.password = u"filepwd";
    config_files::SaveConnection(config_files::ConnectionFilePath(), saved);
    Put(dispidURLorIP, u"192.0.2.7");
    Put(dispidUserPWD, u"given");

    ASSERT_EQ(CreateWindow(), S_OK);
    VelnorClientView* view = m_ctrl->View();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(m_ctrlWnd, m_ctrl->hwnd());
    EXPECT_EQ(m_ctrl->parentWidget(), m_host);
    EXPECT_EQ(view->parentWidget(), m_ctrl);
    EXPECT_EQ(Window::ControlId(view), 0xE900);
    EXPECT_EQ(view->m_hCtrlWnd, m_ctrl->hwnd());
    EXPECT_EQ(view->pos(), QPoint(0, 0));
    EXPECT_EQ(m_ctrl->size(), view->size());  // no size given: the skin's
    EXPECT_EQ(Form(), (std::vector<std::u16string>{u"192.0.2.7", u"7000", u"fileuser", u"given"}));
    EXPECT_TRUE(m_boxes.empty());
    // One window per control.
    HWND again = kNoWindow;
    EXPECT_EQ(m_ctrl->CreateControlWindow(m_host->hwnd(), ControlRect{}, &again), E_UNEXPECTED);
}

TEST_F(ControlTest, SetAddrFillsTheFormOnlyWithAddressPortAndUser) {
    ASSERT_EQ(CreateWindow(), S_OK);
    const std::vector<std::u16string> before{u"10.0.0.1", u"1111", u"olduser", u"oldpwd"};
    struct Case {
        const char* name;
        std::u16string url, port, user, pwd;
        bool result;
        std::vector<std::u16string> form;  // address, port, user, password
    } cases[] = {
        {"all four",
         u"192.0.2.1",
         u"50000",
         u"admin",
         u"1234",
         true,
         {u"192.0.2.1", u"50000", u"admin", u"1234"}},
        {"empty password keeps edit 204",
         u"192.0.2.1",
         u"50000",
         u"admin",
         u"",
         true,
         {u"192.0.2.1", u"50000", u"admin", u"oldpwd"}},
        {"empty port", u"192.0.2.1", u"", u"admin", u"1234", false, before},
        {"empty address", u"", u"50000", u"admin", u"1234", false, before},
        {"empty user", u"192.0.2.1", u"50000", u"", u"1234", false, before},
        {"nothing", u"", u"", u"", u"", false, before},
    };
    for (const Case& c : cases) {
        const int ids[] = {IDC_ADDRESS, IDC_PORT, IDC_USER, IDC_PASSWORD};
        for (int i = 0; i < 4; ++i)
            m_ctrl->View()->SetEditText(ids[i], before[i]);
        Put(dispidURLorIP, c.url);
        Put(dispidPortNumber, c.port);
        Put(dispidUserID, c.user);
        Put(dispidUserPWD, c.pwd);
        Variant result;
        ASSERT_EQ(m_dispatch->Invoke(dispidSetAddr, DISPATCH_METHOD, nullptr, 0, &result), S_OK);
        EXPECT_EQ(result, Variant::Bool(c.result)) << c.name;
        EXPECT_EQ(Form(), c.form) << c.name;
        EXPECT_EQ(m_ctrl->View()->m_connectState, 2) << c.name;  // it never connects
    }
}

TEST_F(ControlTest, ExitButtonWithoutBrowserAsksTheHostToClose) {
    ASSERT_EQ(CreateWindow(), S_OK);
    m_ctrl->View()->OnBarCommand(kBtnExit);
    EXPECT_EQ(m_host->m_received, std::vector<UINT>{UM_CLOSE_REQUEST});
    EXPECT_EQ(m_ctrl->View(), nullptr);
    EXPECT_TRUE(m_boxes.empty());
    // The final release asks once more.
    SafeRelease(m_dispatch);
    EXPECT_EQ(m_host->m_received, (std::vector<UINT>{UM_CLOSE_REQUEST, UM_CLOSE_REQUEST}));
}

TEST_F(ControlTest, InsideABrowserTheBrowserWindowIsClosedOnlyByTheFinalRelease) {
    FakeBrowser browser;
    ASSERT_EQ(CreateWindow(static_cast<IServiceProvider*>(&browser)), S_OK);
    EXPECT_EQ(m_ctrl->m_hostWnd, browser.m_top.hwnd());
    EXPECT_EQ(m_ctrl->View()->m_hCtrlWnd, browser.m_top.hwnd());
    EXPECT_FALSE(browser.m_addressBar);
    EXPECT_FALSE(browser.m_menuBar);
    EXPECT_FALSE(browser.m_toolBar);

    // The view's exit goes to the browser's top window, which does not act on it.
    m_ctrl->View()->OnBarCommand(kBtnExit);
    EXPECT_EQ(browser.m_top.m_received, std::vector<UINT>{UM_CLOSE_REQUEST});
    EXPECT_TRUE(m_host->m_received.empty());
    EXPECT_NE(m_ctrl->View(), nullptr);
    EXPECT_TRUE(m_boxes.empty());

    SafeRelease(m_dispatch);
    EXPECT_EQ(browser.m_top.Count(WM_CLOSE), 1);
    EXPECT_TRUE(m_host->m_received.empty());
    FlushDeletes();
    EXPECT_EQ(browser.m_refs, 0u);  // the control let go of the browser
}

TEST_F(ControlTest, CloseRequestToTheControlInsideABrowserClosesTheBrowser) {
    FakeBrowser browser;
    ASSERT_EQ(CreateWindow(static_cast<IServiceProvider*>(&browser)), S_OK);
    SendMessage(m_ctrl->hwnd(), UM_CLOSE_REQUEST, 0, 0);
    EXPECT_EQ(browser.m_top.m_received, std::vector<UINT>{WM_CLOSE});
    EXPECT_EQ(m_boxes, std::vector<std::u16string>{u"===>>>  Webframe Close Message  \r\n"});
    EXPECT_EQ(m_ctrl->View(), nullptr);
    EXPECT_TRUE(m_host->m_received.empty());
    SafeRelease(m_dispatch);
    FlushDeletes();
}

TEST_F(ControlTest, SiteWithoutBrowserLeavesTheControlOnItsOwn) {
    // A site that offers services, but no web browser.
    class Services final : public IServiceProvider {
    public:
        HRESULT QueryInterface(const Guid& iid, void** out) override {
            *out = iid == IID_IUnknown || iid == IID_IServiceProvider ? this : nullptr;
            return *out != nullptr ? S_OK : E_NOINTERFACE;
        }
        std::uint32_t AddRef() override { return 1; }
        std::uint32_t Release() override { return 1; }
        HRESULT QueryService(const Guid&, const Guid&, void** out) override {
            *out = nullptr;
            return E_NOINTERFACE;
        }
    } services;
    ASSERT_EQ(CreateWindow(&services), S_OK);
    EXPECT_EQ(m_ctrl->m_browser, nullptr);
    EXPECT_EQ(m_ctrl->m_hostWnd, kNoWindow);
    EXPECT_EQ(m_ctrl->View()->m_hCtrlWnd, m_ctrl->hwnd());
    SafeRelease(m_dispatch);  // before the site goes
    FlushDeletes();
}

TEST_F(ControlTest, MissingSkinPackFailsCreationWithAMessage) {
    const std::string empty = MakeTempDir("noskin");
    setenv("QVELNOR_SKIN_DIR", empty.c_str(), 1);
    const HRESULT hr = CreateWindow();
    unsetenv("QVELNOR_SKIN_DIR");
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(m_ctrlWnd, kNoWindow);
    EXPECT_EQ(m_boxes, std::vector<std::u16string>{u"Resource Load ERROR : 2"});
    EXPECT_EQ(m_ctrl->View(), nullptr);
    EXPECT_EQ(m_ctrl->parentWidget(), nullptr);
    // No window, no parent: the final release has nobody to ask.
    SafeRelease(m_dispatch);
    EXPECT_TRUE(m_host->m_received.empty());
}

TEST_F(ControlTest, SafetyOptions) {
    const Guid unknown = MakeGuid("01234567-89AB-CDEF-0123-456789ABCDEF");
    struct Case {
        const Guid* iid;
        std::uint32_t mask, enabled;
        HRESULT expected;
    } cases[] = {
        {&IID_IDispatch, 3, 3, S_OK},           {&IID_IDispatch, 1, 1, S_OK},
        {&IID_IDispatch, 1, 3, S_OK},           {&IID_IDispatch, 0, 0, S_OK},
        {&IID_IDispatch, 1, 0, E_FAIL},         {&IID_IDispatch, 3, 2, E_FAIL},
        {&IID_IDispatch, 4, 4, E_FAIL},         {&IID_IDispatch, 7, 7, E_FAIL},
        {&IID_IPersistPropertyBag, 3, 3, S_OK}, {&unknown, 3, 3, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(m_ctrl->SetInterfaceSafetyOptions(*c.iid, c.mask, c.enabled), c.expected)
            << c.mask << "/" << c.enabled;
    }
    for (const Guid* iid : {&IID_IDispatch, &DIID__DQVelnorClient, &unknown}) {
        std::uint32_t supported = 0, enabled = 0;
        EXPECT_EQ(m_ctrl->GetInterfaceSafetyOptions(*iid, &supported, &enabled),
                  iid == &unknown ? E_NOINTERFACE : S_OK);
        EXPECT_EQ(supported, 3u);
        EXPECT_EQ(enabled, 3u);
    }
}

TEST_F(ControlTest, PropertyBagRoundTripAndDefaults) {
    const std::u16string values[] = {u"192.0.2.9", u"50001", u"viewer", u"pw 1"};
    for (DISPID id = 1; id <= 4; ++id)
        Put(id, values[id - 1]);
    MemoryPropertyBag* bag = MemoryPropertyBag::Create();
    ASSERT_EQ(m_ctrl->Save(bag), S_OK);
    EXPECT_EQ(bag->Values().at(u"_Version"), Variant::Int32(0x10000));
    const char16_t* keys[] = {u"sURLorIP", u"sPortNum", u"sUserID", u"sUserPWD"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bag->Values().at(keys[i]), Variant::String(values[i])) << i;
    }

    // Into a fresh control, and back out through the scripting interface.
    void* p = nullptr;
    ASSERT_EQ(GetQVelnorClientClassObject(CLSID_QVelnorClientCtrl, IID_IClassFactory, &p), S_OK);
    auto* factory = static_cast<IClassFactory*>(p);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPersistPropertyBag, &p), S_OK);
    factory->Release();
    auto* other = static_cast<IPersistPropertyBag*>(p);
    ASSERT_EQ(other->Load(bag), S_OK);
    ASSERT_EQ(other->QueryInterface(IID_IDispatch, &p), S_OK);
    auto* otherDispatch = static_cast<IDispatch*>(p);
    for (DISPID id = 1; id <= 4; ++id) {
        Variant v;
        ASSERT_EQ(otherDispatch->Invoke(id, DISPATCH_PROPERTYGET, nullptr, 0, &v), S_OK);
        EXPECT_EQ(v, Variant::String(values[id - 1])) << id;
    }

    // A bag without the four keys (or with a value of another type) gives
    // four empty strings.
    MemoryPropertyBag* bare = MemoryPropertyBag::Create();
    bare->Write(u"sPortNum", Variant::Int32(50000));
    ASSERT_EQ(other->Load(bare), S_OK);
    for (DISPID id = 1; id <= 4; ++id) {
        Variant v;
        ASSERT_EQ(otherDispatch->Invoke(id, DISPATCH_PROPERTYGET, nullptr, 0, &v), S_OK);
        EXPECT_EQ(v, Variant::String(u"")) << id;
    }
    otherDispatch->Release();
    other->Release();
    bare->Release();
    bag->Release();
}

TEST_F(ControlTest, AboutBoxShowsNameAndVersion) {
    ASSERT_EQ(m_dispatch->Invoke(DISPID_ABOUTBOX, DISPATCH_METHOD, nullptr, 0, nullptr), S_OK);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_NE(m_boxes[0].find(u"QVelnorClient"), std::u16string::npos);
    EXPECT_NE(m_boxes[0].find(u"1.0"), std::u16string::npos);
}

TEST_F(ControlTest, KeysGoToTheViewsKeyModeFirst) {
    EXPECT_FALSE(m_ctrl->PreTranslateMessage(WM_KEYDOWN, 0x33, 0));  // no view yet
    ASSERT_EQ(CreateWindow(), S_OK);
    EXPECT_FALSE(m_ctrl->PreTranslateMessage(WM_KEYDOWN, 0x33, 0));  // key mode off
    m_ctrl->View()->m_keyMode = true;
    EXPECT_TRUE(m_ctrl->PreTranslateMessage(WM_KEYDOWN, 0x33, 0));
    EXPECT_FALSE(m_ctrl->PreTranslateMessage(WM_KEYUP, 0x33, 0));
}

TEST_F(ControlTest, PanelsOfARecorderOfKindThreeFollowTheHostWindow) {
    ASSERT_EQ(CreateWindow(), S_OK);
    VelnorClientView* view = m_ctrl->View();
    m_host->show();
    view->m_loginReply[4] = 3;  // a recorder whose panels are pinned to the view
    view->OnBarCommand(kBtnKeyPanel);  // makes both panels
    ASSERT_NE(view->KeyPanel(), nullptr);
    ASSERT_NE(view->PlayPanel(), nullptr);
    for (const QPoint to : {QPoint(40, 30), QPoint(300, 120)}) {
        m_host->move(to);
        testing_support::PumpFor(30);
        const QPoint origin = view->mapToGlobal(QPoint(0, 0));
        EXPECT_EQ(view->KeyPanel()->geometry(), QRect(origin + QPoint(16, 513), QSize(504, 145)));
        EXPECT_EQ(view->PlayPanel()->geometry(), QRect(origin + QPoint(522, 513), QSize(138, 145)));
    }
}
