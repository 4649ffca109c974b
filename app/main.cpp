// qvelnor: a window that hosts the client view, for people and for scripts.
//
//   qvelnor [--host ADDR] [--port N] [--user ID] [--password PW] [--connect]
//           [--print-status] [--headless] [--run-for SECONDS] [--snapshot FILE.png]

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
            if (!value(&o->host)) return false;
        } else if (a == "--port") {
            if (!value(&o->port)) return false;
        } else if (a == "--user") {
            if (!value(&o->user)) return false;
        } else if (a == "--password") {
            if (!value(&o->password)) return false;
        } else if (a == "--snapshot") {
            if (!value(&o->snapshot)) return false;
        } else if (a == "--run-for") {
            if (!value(&seconds)) return false;
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

// The host's own window: it carries the view and closes when asked to.
class HostWindow : public Window {
public:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == UM_CLOSE_REQUEST) {
            close();
            return 0;
        }
        return Window::WindowProc(msg, wParam, lParam);
    }
};

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
    auto* view = new VelnorClientView(&host);
    host.resize(view->size());
    if (options.printStatus) {
        view->SetStatusObserver([](const std::u16string& line) {
            std::fprintf(stderr, "status: %s\n", ToUtf8(line).c_str());
            std::fflush(stderr);
        });
    }
    view->Initialise();
    view->m_hCtrlWnd = host.hwnd();
    // The connection file first, then what the host was given.
    view->LoadConnectionFile();
    const std::pair<int, const std::string*> fields[] = {{IDC_ADDRESS, &options.host},
                                                         {IDC_PORT, &options.port},
                                                         {IDC_USER, &options.user},
                                                         {IDC_PASSWORD, &options.password}};
    for (const auto& [id, text] : fields) {
        if (!text->empty()) {
            view->SetEditText(id, FromUtf8(*text));
        }
    }
    host.show();

    if (options.connect) {
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
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, [view] {
        view->DestroyWindow();
        QApplication::quit();
    });
    return app.exec();
}
