// qvelnor: a window that hosts the client control, for people and for scripts.
// The control is created by its class id through the component registry
// (register it first: qvelnor-regsvr libQVelnorClient.so).
//
//   qvelnor [--host ADDR] [--port N] [--user ID] [--password PW] [--connect]
//           [--print-status] [--headless] [--run-for SECONDS] [--snapshot FILE.png]

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control/qvelnor_client_ctrl.h"
#include "platform/com_registry.h"
#include "platform/textconv.h"
#include "protocol/client_messages.h"
#include "protocol/velnor_client_view.h"

namespace {

struct Options {
    std::string host, port, user, password, snapshot;
    bool connect = false;
    bool printStatus = false;
    bool headless = false;
    double runForSeconds = 0;
};

void Usage(FILE* out) {
    std::fputs(
        "usage: qvelnor [options]\n"
        "  --host ADDR         recorder address (name or dotted IPv4)\n"
        "  --port N            recorder port\n"
        "  --user ID           user ID\n"
        "  --password PW       password\n"
        "  --connect           press connect once the window is up\n"
        "  --print-status      echo every status line to standard error\n"
        "  --headless          run without a display (offscreen)\n"
        "  --run-for SECONDS   quit after this long\n"
        "  --snapshot FILE     save a PNG of the window before quitting\n",
        out);
}

bool Parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "qvelnor: %s needs a value\n", a.c_str());
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string seconds;
        if (a == "--host") {
            if (!value(&o->host))
                return false;
        } else if (a == "--port") {
            if (!value(&o->port))
                return false;
        } else if (a == "--user") {
            if (!value(&o->user))
                return false;
        } else if (a == "--password") {
            if (!value(&o->password))
                return false;
        } else if (a == "--snapshot") {
            if (!value(&o->snapshot))
                return false;
        } else if (a == "--run-for") {
            if (!value(&seconds))
                return false;
            char* end = nullptr;
            o->runForSeconds = std::strtod(seconds.c_str(), &end);
            if (end == seconds.c_str() || *end != '\0' || o->runForSeconds < 0) {
                std::fprintf(stderr, "qvelnor: bad --run-for value '%s'\n", seconds.c_str());
                return false;
            }
        } else if (a == "--connect") {
            o->connect = true;
        } else if (a == "--print-status") {
            o->printStatus = true;
        } else if (a == "--headless") {
            o->headless = true;
        } else if (a == "--help" || a == "-h") {
            Usage(stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "qvelnor: unknown option '%s'\n", a.c_str());
            Usage(stderr);
            return false;
        }
    }
    return true;
}

// The host's own window: it carries the control and closes when the control
// asks it to (1225; once more from the control's final release).
class HostWindow : public Window {
public:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == UM_CLOSE_REQUEST) {
            if (!m_closing) {
                m_closing = true;
                close();
            }
            return 0;
        }
        if (msg == WM_CLOSE) {
            m_closing = true;
        }
        return Window::WindowProc(msg, wParam, lParam);
    }

private:
    bool m_closing = false;
};

HRESULT PutString(IDispatch* control, DISPID id, const std::string& value) {
    const Variant arg = Variant::String(FromUtf8(value));
    return control->Invoke(id, DISPATCH_PROPERTYPUT, &arg, 1, nullptr);
}

template <typename T>
T* Query(IUnknown* object, const Guid& iid) {
    void* p = nullptr;
    return Succeeded(object->QueryInterface(iid, &p)) ? static_cast<T*>(p) : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, &options)) {
        return 2;
    }
    if (options.headless) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    app.setApplicationName("QVelnor");

    HostWindow host;
    host.setWindowTitle("QVelnor client");

    // The control, by its class id, from the library the registry names.
    void* p = nullptr;
    HRESULT hr = CreateInstanceFromRegistry(CLSID_QVelnorClientCtrl, IID_IDispatch, &p);
    if (Failed(hr)) {
        std::fprintf(stderr,
                     "qvelnor: cannot create the client control (0x%08X)%s%s\n"
                     "  registry: %s\n  register it with: qvelnor-regsvr libQVelnorClient.so\n",
                     static_cast<unsigned>(hr), hr == CO_E_DLLNOTFOUND ? ": " : "",
                     hr == CO_E_DLLNOTFOUND ? LastModuleLoadError().c_str() : "",
                     ComponentRegistryPath().c_str());
        return 1;
    }
    auto* control = static_cast<IDispatch*>(p);
    auto* embedded = Query<IEmbeddedControl>(control, IID_IEmbeddedControl);
    auto* viewAccess = Query<IClientViewAccess>(control, IID_IClientViewAccess);
    if (embedded == nullptr || viewAccess == nullptr) {
        std::fprintf(stderr, "qvelnor: the registered class is not the client control\n");
        SafeRelease(embedded);
        SafeRelease(viewAccess);
        control->Release();
        return 1;
    }

    // The properties before the window: creation puts the given ones over
    // what the connection file filled in; SetAddr then applies a full set.
    PutString(control, dispidURLorIP, options.host);
    PutString(control, dispidPortNumber, options.port);
    PutString(control, dispidUserID, options.user);
    PutString(control, dispidUserPWD, options.password);

    HWND controlWnd = kNoWindow;
    hr = embedded->CreateControlWindow(host.hwnd(), ControlRect{}, &controlWnd);
    embedded->Release();
    if (Failed(hr)) {
        std::fprintf(stderr, "qvelnor: the client control could not create its window\n");
        viewAccess->Release();
        control->Release();
        return 1;
    }
    control->Invoke(dispidSetAddr, DISPATCH_METHOD, nullptr, 0, nullptr);

    VelnorClientView* view = viewAccess->View();
    if (options.printStatus && view != nullptr) {
        view->SetStatusObserver([](const std::u16string& line) {
            std::fprintf(stderr, "status: %s\n", ToUtf8(line).c_str());
            std::fflush(stderr);
        });
    }
    if (QWidget* w = WidgetFromHandle(controlWnd)) {
        host.resize(w->size());
    }
    host.show();

    if (options.connect && view != nullptr) {
        PostMessage(view->hwnd(), UM_BUTTON_CLICK, kBtnConnect, 0);
    }
    if (options.runForSeconds > 0) {
        QTimer::singleShot(static_cast<int>(options.runForSeconds * 1000), &host, [&] {
            if (!options.snapshot.empty()) {
                if (!host.grab().save(QString::fromStdString(options.snapshot), "PNG")) {
                    std::fprintf(stderr, "qvelnor: cannot write %s\n", options.snapshot.c_str());
                }
            }
            host.close();
        });
    }
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    const int rc = app.exec();
    // The control goes before the window it lives in.
    viewAccess->Release();
    control->Release();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return rc;
}
