#include "control/prop_page.h"

#include "control/qvelnor_client_app.h"
#include "platform/window.h"

CQVelnorClientPropPage::CQVelnorClientPropPage() {
    CQVelnorClientApp::Instance().ObjectCreated();
}

CQVelnorClientPropPage::~CQVelnorClientPropPage() {
    Deactivate();
    CQVelnorClientApp::Instance().ObjectDestroyed();
}

HRESULT CQVelnorClientPropPage::QueryInterface(const Guid& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPropertyPage) {
        *out = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

std::uint32_t CQVelnorClientPropPage::Release() {
    const std::uint32_t left = m_refs.Drop();
    if (left == 0)
        delete this;
    return left;
}

HRESULT CQVelnorClientPropPage::GetCaption(std::u16string* caption) {
    if (caption == nullptr)
        return E_POINTER;
    *caption = kPropPageCaption;
    return S_OK;
}

HRESULT CQVelnorClientPropPage::Activate(HWND parent, HWND* hwnd) {
    if (hwnd != nullptr)
        *hwnd = kNoWindow;
    QWidget* parentWidget = WidgetFromHandle(parent);
    if (parentWidget == nullptr)
        return E_INVALIDARG;
    if (m_page == nullptr) {
        m_page = new Window(parentWidget);
        Window::SetControlId(m_page, kPropPageTemplateId);
        m_page->setWindowTitle(QString::fromStdU16String(kPropPageCaption));
        m_page->show();
    }
    if (hwnd != nullptr)
        *hwnd = m_page->hwnd();
    return S_OK;
}

HRESULT CQVelnorClientPropPage::Deactivate() {
    if (m_page != nullptr) {
        m_page->DestroyWindow();
        m_page = nullptr;
    }
    return S_OK;
}
