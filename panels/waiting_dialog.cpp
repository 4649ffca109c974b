#include "panels/waiting_dialog.h"

#include <QEventLoop>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace {

// Template 203 measures 186 x 31 dialog units: a dialog unit is a quarter of
// the font's average character width across and an eighth of its height down.
constexpr int kWidthDlu = 186;
constexpr int kHeightDlu = 31;
constexpr int kIdCancel = 2;

}  // namespace

class DLG_Waiting::WaitingWindow : public Window {
public:
    explicit WaitingWindow(DLG_Waiting& box) : Window(nullptr), m_box(box) {
        // A popup with caption and system menu, never the main window.
        setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                       Qt::WindowCloseButtonHint);
        setAttribute(Qt::WA_QuitOnClose, false);
        auto* label = new QLabel(this);
        label->setAlignment(Qt::AlignCenter);
        label->setTextFormat(Qt::PlainText);
        SetControlId(label, kTextControlId);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(label);
        const QFontMetrics fm(font());
        setFixedSize(kWidthDlu * fm.averageCharWidth() / 4, kHeightDlu * fm.height() / 8);
    }

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        switch (msg) {
            case WM_CLOSE:
                if (m_box.m_modalLoop != nullptr) {
                    m_box.EndDialog(kIdCancel);
                } else {
                    DestroyWindow();
                }
                return 0;
            case WM_DESTROY:
                m_box.OnWindowGone();
                return 0;
            default:
                return Window::WindowProc(msg, wParam, lParam);
        }
    }

private:
    DLG_Waiting& m_box;
};

DLG_Waiting::DLG_Waiting(LookupFn lookup) : m_lookup(std::move(lookup)), m_text(kTemplateText) {}

DLG_Waiting::~DLG_Waiting() {
    if (m_modalLoop != nullptr) {
        m_modalLoop->exit(kIdCancel);
    }
    if (m_window != nullptr) {
        // Gone with its box: no WM_DESTROY back into a dying object.
        Window* w = m_window;
        m_window = nullptr;
        delete w;
    }
}

void DLG_Waiting::OpenWindow() {
    auto* w = new WaitingWindow(*this);
    m_window = w;
    // WM_INITDIALOG: the template text, or the translation when we have a lookup.
    m_text = kTemplateText;
    if (m_lookup) {
        m_text = m_lookup(u"MESSAGE", u"WAITING FOR SERVER RESPONSE");
        if (m_text.size() > kMaxTextUnits) {
            m_text.resize(kMaxTextUnits);
        }
    }
    if (auto* label = static_cast<QLabel*>(w->GetDlgItem(kTextControlId))) {
        label->setText(QString::fromStdU16String(m_text));
    }
    Centre();
}

void DLG_Waiting::Centre() {
    // The frame counts: it is known once the window is shown, so this runs
    // again then.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr && m_window != nullptr) {
        const QRect area = screen->availableGeometry();
        const QSize outer = m_window->frameGeometry().size();
        m_window->move(area.x() + (area.width() - outer.width()) / 2,
                       area.y() + (area.height() - outer.height()) / 2);
    }
}

bool DLG_Waiting::Create() {
    if (m_window == nullptr) {
        OpenWindow();
        m_window->show();
        Centre();
    }
    return m_window != nullptr;
}

void DLG_Waiting::Destroy() {
    if (m_window != nullptr) {
        m_window->DestroyWindow();
    }
}

int DLG_Waiting::DoModal() {
    if (m_modalLoop != nullptr) {
        return -1;  // already running
    }
    if (m_window == nullptr) {
        OpenWindow();
    }
    m_window->setWindowModality(Qt::ApplicationModal);
    m_window->show();
    Centre();
    QEventLoop loop;
    m_modalLoop = &loop;
    m_result = loop.exec();
    m_modalLoop = nullptr;
    Destroy();
    return m_result;
}

void DLG_Waiting::EndDialog(int result) {
    if (m_modalLoop != nullptr) {
        m_modalLoop->exit(result);
    }
}

void DLG_Waiting::OnWindowGone() {
    m_window = nullptr;
}
