#include "control/qvelnor_client_ctrl.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QVBoxLayout>
#include <cstdio>

#include "control/qvelnor_client_app.h"
#include "panels/pixmart.h"
#include "platform/textconv.h"
#include "protocol/client_messages.h"
#include "protocol/velnor_client_view.h"

namespace {

CQVelnorClientCtrl::ModalRunner& Runner() {
    static CQVelnorClientCtrl::ModalRunner runner;
    return runner;
}

void RunModal(QDialog& dialog) {
    if (Runner()) {
        Runner()(dialog);
    } else {
        dialog.exec();
    }
}

// The control the window hook works for: the one created last.
CQVelnorClientCtrl* g_hookCtrl = nullptr;

constexpr int kRecorderKindOffset = 4;  // in the login reply
constexpr std::uint8_t kRecorderKindDockedPanels = 3;

struct DispName {
    const char16_t* name;
    DISPID id;
};
constexpr DispName kDispNames[] = {
    {u"URLorIP", dispidURLorIP}, {u"PortNumber", dispidPortNumber}, {u"UserID", dispidUserID},
    {u"UserPWD", dispidUserPWD}, {u"SetAddr", dispidSetAddr},       {u"AboutBox", DISPID_ABOUTBOX},
};

bool SameNameNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z')
            x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z')
            y = static_cast<char16_t>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

// Persistence keys, in the order they are written.
struct PersistKey {
    const char16_t* name;
    std::u16string CQVelnorClientCtrl::*field;
};
constexpr PersistKey kPersistKeys[] = {
    {u"sURLorIP", &CQVelnorClientCtrl::m_URLorIP},
    {u"sPortNum", &CQVelnorClientCtrl::m_PortNumber},
    {u"sUserID", &CQVelnorClientCtrl::m_UserID},
    {u"sUserPWD", &CQVelnorClientCtrl::m_UserPWD},
};
constexpr char16_t kVersionKey[] = u"_Version";

}  // namespace

void ShowControlMessageBox(QWidget* parent, const std::u16string& text, bool warning) {
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information,
                    QStringLiteral("QVelnorClient"), QString::fromStdU16String(text),
                    QMessageBox::Ok, parent);
    RunModal(box);
}

// The thread's window hook for moves and sizes: an application event filter
// that watches the top-level windows of the control's thread.
class CQVelnorClientCtrl::MoveSizeHook : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if ((e->type() == QEvent::Move || e->type() == QEvent::Resize) && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow() && watched->thread() == thread()) {
            CQVelnorClientCtrl::OnHostMoveOrSize();
        }
        return false;
    }
};

void CQVelnorClientCtrl::SetModalRunner(ModalRunner runner) {
    Runner() = std::move(runner);
}

CQVelnorClientCtrl::CQVelnorClientCtrl() : Window(nullptr) {
    CQVelnorClientApp::Instance().ObjectCreated();
}

CQVelnorClientCtrl::~CQVelnorClientCtrl() {
    RemoveHook();
    if (g_hookCtrl == this) {
        g_hookCtrl = nullptr;
    }
    SafeRelease(m_browser);
    SafeRelease(m_site);
    CQVelnorClientApp::Instance().ObjectDestroyed();
}

// --- IUnknown ------------------------------------------------------------------

HRESULT CQVelnorClientCtrl::QueryInterface(const Guid& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__DQVelnorClient) {
        *out = static_cast<IDispatch*>(this);
    } else if (iid == IID_IObjectSafety) {
        *out = static_cast<IObjectSafety*>(this);
    } else if (iid == IID_IPersistPropertyBag) {
        *out = static_cast<IPersistPropertyBag*>(this);
    } else if (iid == IID_IEmbeddedControl) {
        *out = static_cast<IEmbeddedControl*>(this);
    } else if (iid == IID_IClientViewAccess) {
        *out = static_cast<IClientViewAccess*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

std::uint32_t CQVelnorClientCtrl::AddRef() {
    return m_refs.Add();
}

std::uint32_t CQVelnorClientCtrl::Release() {
    const std::uint32_t left = m_refs.Drop();
    if (left == 0) {
        OnFinalRelease();
        DestroyWindow();
    }
    return left;
}

// --- IDispatch -------------------------------------------------------------------

HRESULT CQVelnorClientCtrl::GetIDsOfNames(const std::u16string* names, std::size_t count,
                                          DISPID* ids) {
    if ((names == nullptr || ids == nullptr) && count > 0)
        return E_POINTER;
    HRESULT hr = S_OK;
    for (std::size_t i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (const DispName& n : kDispNames) {
            if (SameNameNoCase(names[i], n.name))
                ids[i] = n.id;
        }
        if (ids[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT CQVelnorClientCtrl::Invoke(DISPID id, std::uint16_t flags, const Variant* args,
                                   std::size_t argCount, Variant* result) {
    if (argCount > 0 && args == nullptr)
        return E_POINTER;
    std::u16string* property = nullptr;
    switch (id) {
        case dispidURLorIP:
            property = &m_URLorIP;
            break;
        case dispidPortNumber:
            property = &m_PortNumber;
            break;
        case dispidUserID:
            property = &m_UserID;
            break;
        case dispidUserPWD:
            property = &m_UserPWD;
            break;
        case dispidSetAddr:
            if (!(flags & DISPATCH_METHOD))
                return DISP_E_MEMBERNOTFOUND;
            if (argCount != 0)
                return DISP_E_BADPARAMCOUNT;
            {
                const bool ok = SetAddr();
                if (result != nullptr)
                    *result = Variant::Bool(ok);
            }
            return S_OK;
        case DISPID_ABOUTBOX:
            if (!(flags & DISPATCH_METHOD))
                return DISP_E_MEMBERNOTFOUND;
            if (argCount != 0)
                return DISP_E_BADPARAMCOUNT;
            AboutBox();
            if (result != nullptr)
                *result = Variant();
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
    if (flags & DISPATCH_PROPERTYPUT) {
        if (argCount != 1)
            return DISP_E_BADPARAMCOUNT;
        if (args[0].type != Variant::Type::String)
            return DISP_E_TYPEMISMATCH;
        *property = args[0].str;
        return S_OK;
    }
    if (flags & DISPATCH_PROPERTYGET) {
        if (argCount != 0)
            return DISP_E_BADPARAMCOUNT;
        if (result != nullptr)
            *result = Variant::String(*property);
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
}

// --- IObjectSafety -------------------------------------------------------------

HRESULT CQVelnorClientCtrl::GetInterfaceSafetyOptions(const Guid& iid, std::uint32_t* supported,
                                                      std::uint32_t* enabled) {
    void* p = nullptr;
    const HRESULT hr = QueryInterface(iid, &p);
    if (Succeeded(hr)) {
        static_cast<IUnknown*>(static_cast<IDispatch*>(this))->Release();
    }
    const std::uint32_t both =
        INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    if (supported != nullptr)
        *supported = both;
    if (enabled != nullptr)
        *enabled = both;
    return hr;
}

HRESULT CQVelnorClientCtrl::SetInterfaceSafetyOptions(const Guid& iid, std::uint32_t mask,
                                                      std::uint32_t enabled) {
    void* p = nullptr;
    if (Failed(QueryInterface(iid, &p)))
        return E_NOINTERFACE;
    static_cast<IUnknown*>(static_cast<IDispatch*>(this))->Release();
    const std::uint32_t both =
        INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    if ((mask & ~both) != 0)
        return E_FAIL;
    if ((mask & ~enabled) != 0)
        return E_FAIL;
    return S_OK;  // nothing to store: the control is always safe
}

// --- IPersistPropertyBag ---------------------------------------------------------

HRESULT CQVelnorClientCtrl::InitNew() {
    for (const PersistKey& k : kPersistKeys)
        (this->*k.field).clear();
    return S_OK;
}

HRESULT CQVelnorClientCtrl::Load(IPropertyBag* bag) {
    if (bag == nullptr)
        return E_POINTER;
    // The version is read for the record only: 1.0 is the one format there is.
    Variant version;
    bag->Read(kVersionKey, &version);
    for (const PersistKey& k : kPersistKeys) {
        Variant v;
        const bool found = Succeeded(bag->Read(k.name, &v)) && v.type == Variant::Type::String;
        (this->*k.field) = found ? v.str : std::u16string();
    }
    return S_OK;
}

HRESULT CQVelnorClientCtrl::Save(IPropertyBag* bag) {
    if (bag == nullptr)
        return E_POINTER;
    HRESULT hr =
        bag->Write(kVersionKey, Variant::Int32(static_cast<std::int32_t>(kCtrlPersistVersion)));
    for (const PersistKey& k : kPersistKeys) {
        if (Failed(hr))
            break;
        hr = bag->Write(k.name, Variant::String(this->*k.field));
    }
    return Failed(hr) ? E_FAIL : S_OK;
}

// --- IEmbeddedControl -------------------------------------------------------------

HRESULT CQVelnorClientCtrl::SetClientSite(IUnknown* site) {
    if (site != nullptr)
        site->AddRef();
    SafeRelease(m_site);
    m_site = site;
    return S_OK;
}

HRESULT CQVelnorClientCtrl::CreateControlWindow(HWND parent, const ControlRect& rect,
                                                HWND* hwndOut) {
    if (hwndOut != nullptr)
        *hwndOut = kNoWindow;
    QWidget* parentWidget = WidgetFromHandle(parent);
    if (parentWidget == nullptr)
        return E_INVALIDARG;
    if (m_ownedView != nullptr)
        return E_UNEXPECTED;  // one window per control
    setParent(parentWidget);
    if (!rect.Empty()) {
        setGeometry(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    }
    if (OnCreate() != 0) {
        setParent(nullptr);
        hide();
        return E_FAIL;
    }
    if (rect.Empty()) {
        resize(m_ownedView->size());
    }
    show();
    if (hwndOut != nullptr)
        *hwndOut = hwnd();
    return S_OK;
}

// --- window --------------------------------------------------------------------

int CQVelnorClientCtrl::OnCreate() {
    // 1, 2: a web browser hosting us, and its top window.
    if (m_site != nullptr && m_browser == nullptr) {
        void* p = nullptr;
        if (Succeeded(m_site->QueryInterface(IID_IServiceProvider, &p))) {
            auto* services = static_cast<IServiceProvider*>(p);
            void* browser = nullptr;
            if (Succeeded(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser, &browser))) {
                m_browser = static_cast<IWebBrowser*>(browser);
            }
            services->Release();
        }
    }
    if (m_browser != nullptr) {
        HWND top = kNoWindow;
        if (Succeeded(m_browser->GetHwnd(&top)) && top != kNoWindow) {
            m_hostWnd = top;
        }
        m_browser->PutAddressBar(false);
        m_browser->PutMenuBar(false);
        m_browser->PutToolBar(false);
    }

    // 3, 4: the skin and the background rectangle.
    const int n = BLDAPI_Initialize("ResKV.dll", 1);
    if (n != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "Resource Load ERROR : %d", n);
        ShowControlMessageBox(parentWidget(), FromUtf8(text), true);
        return -1;
    }
    SkinRect background;
    BLDAPI_GetResourceRect(kSkinBackgroundRectId, &background);

    // 5: the view.
    auto* view = new VelnorClientView(this);
    SetControlId(view, kViewControlId);
    view->setGeometry(0, 0, background.right + 4, background.bottom + 4);
    view->show();
    m_view = view;
    m_ownedView = view;

    // 6
    g_hookCtrl = this;
    if (m_browser != nullptr)
        ActivateInPlace();
    // 7
    view->m_hCtrlWnd = m_hostWnd != kNoWindow ? m_hostWnd : hwnd();
    // 8
    view->Initialise();
    // 9: the connection file first; the properties win over it.
    view->LoadConnectionFile();
    ApplyPropertiesToForm();
    // 10
    InstallHook();
    return 0;
}

void CQVelnorClientCtrl::ApplyPropertiesToForm() {
    if (m_view == nullptr)
        return;
    const std::pair<int, const std::u16string*> fields[] = {{IDC_ADDRESS, &m_URLorIP},
                                                            {IDC_USER, &m_UserID},
                                                            {IDC_PASSWORD, &m_UserPWD},
                                                            {IDC_PORT, &m_PortNumber}};
    for (const auto& [id, text] : fields) {
        if (!text->empty())
            m_view->SetEditText(id, *text);
    }
}

bool CQVelnorClientCtrl::SetAddr() {
    if (m_URLorIP.empty() || m_PortNumber.empty() || m_UserID.empty()) {
        return false;
    }
    // Only fills the form; the user's connect button connects.
    ApplyPropertiesToForm();
    return true;
}

void CQVelnorClientCtrl::AboutBox() {
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("About QVelnorClient"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* name = new QLabel(QStringLiteral("QVelnorClient Control, Version 1.0"), &dialog);
    name->setObjectName(QStringLiteral("aboutName"));
    layout->addWidget(name);
    layout->addWidget(
        new QLabel(QStringLiteral("Remote client for networked video recorders"), &dialog));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    RunModal(dialog);
}

bool CQVelnorClientCtrl::PreTranslateMessage(UINT msg, WPARAM wParam, LPARAM) {
    if (m_view != nullptr) {
        return m_view->PreTranslateKey(msg, wParam);
    }
    return false;
}

HWND CQVelnorClientCtrl::ParentHandle() const {
    auto* parent = dynamic_cast<Window*>(parentWidget());
    return parent != nullptr ? parent->hwnd() : kNoWindow;
}

LRESULT CQVelnorClientCtrl::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case UM_CLOSE_REQUEST:
            if (m_hostWnd != kNoWindow) {
                SendMessage(m_hostWnd, WM_CLOSE, 0, 0);
                ShowControlMessageBox(parentWidget(), u"===>>>  Webframe Close Message  \r\n",
                                      false);
            } else {
                SendMessage(ParentHandle(), UM_CLOSE_REQUEST, 0, 0);
            }
            m_view = nullptr;
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            OnMouseActivate();
            break;
        case WM_PAINT:
            // White under the view; visible only where the view does not cover us.
            if (QPainter* painter = PaintPainter()) {
                painter->fillRect(rect(), Qt::white);
            }
            return 0;
        case WM_DESTROY:
            RemoveHook();
            if (m_ownedView != nullptr) {
                m_ownedView->DestroyWindow();
            }
            m_view = nullptr;
            break;
        default:
            break;
    }
    return Window::WindowProc(msg, wParam, lParam);
}

void CQVelnorClientCtrl::OnMouseActivate() {
    if (m_browser != nullptr)
        ActivateInPlace();
}

void CQVelnorClientCtrl::ActivateInPlace() {
    // In place with its user interface: the control's window takes the focus
    // in the host's page.
    if (QWidget* top = window(); top != nullptr && top != this)
        top->activateWindow();
    setFocus(Qt::OtherFocusReason);
}

void CQVelnorClientCtrl::OnFinalRelease() {
    RemoveHook();
    if (m_hostWnd != kNoWindow) {
        SendMessage(m_hostWnd, WM_CLOSE, 0, 0);
    } else {
        SendMessage(ParentHandle(), UM_CLOSE_REQUEST, 0, 0);
    }
    m_view = nullptr;
}

void CQVelnorClientCtrl::InstallHook() {
    if (m_hook == nullptr) {
        m_hook = new MoveSizeHook(this);
        qApp->installEventFilter(m_hook);
    }
}

void CQVelnorClientCtrl::RemoveHook() {
    if (m_hook != nullptr) {
        qApp->removeEventFilter(m_hook);
        delete m_hook;
        m_hook = nullptr;
    }
}

void CQVelnorClientCtrl::OnHostMoveOrSize() {
    CQVelnorClientCtrl* ctrl = g_hookCtrl;
    if (ctrl == nullptr || ctrl->m_view == nullptr)
        return;
    if (ctrl->m_view->m_loginReply[kRecorderKindOffset] == kRecorderKindDockedPanels) {
        ctrl->DockPanels();
    }
}

void CQVelnorClientCtrl::DockPanels() {
    // Both panels to their fixed places on the view, when they exist.
    if (MainKeyPanel* keys = m_view->KeyPanel()) {
        keys->Dock();
    }
    if (SetupPlay* play = m_view->PlayPanel()) {
        play->Dock();
    }
}
