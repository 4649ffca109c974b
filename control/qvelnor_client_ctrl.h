#pragma once
// CQVelnorClientCtrl: the client control that hosts create by class id. It
// carries the four scripting properties (address, port, user, password),
// persists them, declares itself safe for scripts and for initialisation, and
// when its window is created loads the skin and creates the one
// VelnorClientView that does the work. It passes the view's close request on
// to whoever hosts it.
//
// Lifetime: created by the class factory with no window; a host gives it a
// window with IEmbeddedControl::CreateControlWindow as a child of its own
// Window. The last Release runs OnFinalRelease and destroys the window (from
// the event loop). A host releases the control before it destroys the window
// the control lives in.
//
// Threads: everything on the thread that created the control.

#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/com_base.h"
#include "platform/window.h"

class QDialog;
class VelnorClientView;

// Identifiers of the library.
inline constexpr Guid CLSID_QVelnorClientCtrl = MakeGuid("A00A4A7F-EA8A-47C6-9A34-6D3E67381533");
inline constexpr Guid CLSID_QVelnorClientPropPage =
    MakeGuid("667170FB-D8CE-45FB-9FEA-DA469CCD668F");
inline constexpr Guid LIBID_QVelnorClientLib = MakeGuid("58BA6CCE-6D53-4CFD-962F-56BECC0DED44");
inline constexpr Guid DIID__DQVelnorClient = MakeGuid("4D784E88-2AE1-4058-99B3-4E9AAF1E049E");
inline constexpr Guid DIID__DQVelnorClientEvents = MakeGuid("B1BB01BA-E500-4EBD-8ACB-794DDD96AF12");
inline constexpr Guid CATID_SafeForScripting = MakeGuid("37D65E03-BE28-4210-91DB-7A50B4FB2514");
inline constexpr Guid CATID_SafeForInitializing = MakeGuid("D1F5D9FC-CB26-4465-B354-DE17CC8167D9");
// Not for scripts: lets a host in the same process reach the view.
inline constexpr Guid IID_IClientViewAccess = MakeGuid("556CECF4-D6B5-4E65-99BF-9BF5CD79813D");

inline constexpr char kCtrlProgId[] = "QVELNORCLIENT.QVelnorClientCtrl.1";
inline constexpr char kCtrlTypeName[] = "QVelnorClient Control";  // string resource 1
inline constexpr std::uint32_t kCtrlMiscStatus = 0x20191;
inline constexpr std::uint32_t kCtrlPersistVersion = 0x10000;  // format 1.0

// DISPIDs of the scripting interface _DQVelnorClient.
enum : DISPID {
    dispidURLorIP = 1,
    dispidPortNumber = 2,
    dispidUserID = 3,
    dispidUserPWD = 4,
    dispidSetAddr = 5,
};

inline constexpr int kViewControlId = 0xE900;
inline constexpr int kSkinBackgroundRectId = 10001;

class IClientViewAccess : public IUnknown {
public:
    // The control's view, or null (before window creation, after a close request).
    virtual VelnorClientView* View() = 0;

protected:
    ~IClientViewAccess() = default;
};

class CQVelnorClientCtrl final : public Window,
                                 public IDispatch,
                                 public IObjectSafety,
                                 public IPersistPropertyBag,
                                 public IEmbeddedControl,
                                 public IClientViewAccess {
public:
    // How the control runs its modal boxes (about box, resource error, the
    // web frame's close notice). Empty (the default) means QDialog::exec();
    // a host or a test may show them some other way.
    using ModalRunner = std::function<void(QDialog& dialog)>;
    static void SetModalRunner(ModalRunner runner);

    // A new control with no references; the caller's QueryInterface takes the first.
    CQVelnorClientCtrl();
    ~CQVelnorClientCtrl() override;

    // IUnknown
    HRESULT QueryInterface(const Guid& iid, void** out) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;

    // IDispatch: URLorIP 1, PortNumber 2, UserID 3, UserPWD 4 (strings),
    // SetAddr 5 (-> bool), AboutBox -552.
    HRESULT GetIDsOfNames(const std::u16string* names, std::size_t count, DISPID* ids) override;
    HRESULT Invoke(DISPID id, std::uint16_t flags, const Variant* args, std::size_t argCount,
                   Variant* result) override;

    // IObjectSafety
    HRESULT GetInterfaceSafetyOptions(const Guid& iid, std::uint32_t* supported,
                                      std::uint32_t* enabled) override;
    HRESULT SetInterfaceSafetyOptions(const Guid& iid, std::uint32_t mask,
                                      std::uint32_t enabled) override;

    // IPersistPropertyBag: "sURLorIP", "sPortNum", "sUserID", "sUserPWD".
    HRESULT InitNew() override;
    HRESULT Load(IPropertyBag* bag) override;
    HRESULT Save(IPropertyBag* bag) override;

    // IEmbeddedControl
    HRESULT SetClientSite(IUnknown* site) override;
    HRESULT CreateControlWindow(HWND parent, const ControlRect& rect, HWND* hwnd) override;

    // IClientViewAccess
    VelnorClientView* View() override { return m_view; }

    // Scripting methods.
    bool SetAddr();
    void AboutBox();

    // Window creation; 0 or -1.
    int OnCreate();
    // Key handling ahead of the focused control: true when consumed.
    bool PreTranslateMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnMouseActivate();
    void OnFinalRelease();

    // The properties.
    std::u16string m_URLorIP;
    std::u16string m_PortNumber;
    std::u16string m_UserID;
    std::u16string m_UserPWD;

    VelnorClientView* m_view = nullptr;
    IWebBrowser* m_browser = nullptr;
    HWND m_hostWnd = kNoWindow;

private:
    class MoveSizeHook;
    friend class MoveSizeHook;

    void ApplyPropertiesToForm();
    void ActivateInPlace();
    void InstallHook();
    void RemoveHook();
    HWND ParentHandle() const;
    // The window hook's work for a move or size of any top-level window.
    static void OnHostMoveOrSize();
    // Keeps the key panel and the playback panel docked under the picture of a
    // kind-3 recorder. The panels fill this in; until they exist nothing moves.
    void DockPanels();

    RefCount m_refs;
    IUnknown* m_site = nullptr;
    QPointer<VelnorClientView> m_ownedView;  // for WM_DESTROY, also after a close request
    MoveSizeHook* m_hook = nullptr;
};

// Runs a message box through the control's modal runner: "QVelnorClient" as
// caption, text as given. Shared by the control's own boxes.
void ShowControlMessageBox(QWidget* parent, const std::u16string& text, bool warning);
