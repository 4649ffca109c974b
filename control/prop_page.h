#pragma once
// CQVelnorClientPropPage: the control's property page. It has no controls
// and exchanges no properties; hosts show it by its caption.

#include <QPointer>
#include <string>

#include "platform/com_base.h"

class Window;

inline constexpr char kPropPageProgId[] = "QVELNORCLIENT.QVelnorClientPropPage.1";
inline constexpr char kPropPageTypeName[] = "QVelnorClient Property Page";  // string resource 2
inline constexpr char16_t kPropPageCaption[] = u"General";                  // string resource 200
inline constexpr int kPropPageTemplateId = 200;

class CQVelnorClientPropPage final : public IPropertyPage {
public:
    CQVelnorClientPropPage();

    HRESULT QueryInterface(const Guid& iid, void** out) override;
    std::uint32_t AddRef() override { return m_refs.Add(); }
    std::uint32_t Release() override;

    HRESULT GetCaption(std::u16string* caption) override;
    HRESULT Activate(HWND parent, HWND* hwnd) override;
    HRESULT Deactivate() override;

private:
    ~CQVelnorClientPropPage();
    RefCount m_refs;
    QPointer<Window> m_page;
};
