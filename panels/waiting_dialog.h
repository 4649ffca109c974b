#pragma once
// DLG_Waiting: the small box that asks the user to wait while a request to
// the recorder is outstanding (dialog template 203). The object lives on and
// is reused; its window exists only while it is shown.
//
// Modeless use (the client view): Create() opens the window without a parent,
// centred on the screen; Destroy() closes it when the answer comes. Modal
// use (the search dialog): DoModal() runs it until EndDialog().
//
// Window thread only.

#include <QPointer>
#include <functional>
#include <string>
#include <string_view>

#include "platform/window.h"

class QEventLoop;
class QLabel;

class DLG_Waiting {
public:
    static constexpr int kTemplateId = 203;
    static constexpr int kTextControlId = 260;
    // The template's own text, shown when there is no language lookup.
    static constexpr char16_t kTemplateText[] = u"Waiting for Server Response";
    static constexpr int kMaxTextUnits = 259;  // a 260-unit buffer with its terminator

    // Reads `key` of `section` in the language file, the key itself as the
    // default (the view passes config_files::Translate on its m_langFile).
    using LookupFn =
        std::function<std::u16string(std::u16string_view section, std::u16string_view key)>;

    explicit DLG_Waiting(LookupFn lookup = {});
    ~DLG_Waiting();
    DLG_Waiting(const DLG_Waiting&) = delete;
    DLG_Waiting& operator=(const DLG_Waiting&) = delete;

    // An empty lookup keeps the template text. Takes effect at the next opening.
    void SetLookup(LookupFn lookup) { m_lookup = std::move(lookup); }

    // Opens the window modeless, without a parent, centred and shown. Already
    // open: nothing happens. Returns true when the window is open.
    bool Create();
    // Destroys the window, if there is one.
    void Destroy();
    // Runs the box modal until EndDialog (or until its window is closed,
    // which gives 2). Returns the result. The object must outlive the run.
    int DoModal();
    void EndDialog(int result);

    // The open window, or null.
    Window* GetWindow() const { return m_window; }
    bool IsOpen() const { return m_window != nullptr; }
    // The text shown (after the last opening).
    const std::u16string& Text() const { return m_text; }

private:
    class WaitingWindow;
    friend class WaitingWindow;
    void OpenWindow();
    void Centre();
    void OnWindowGone();  // WM_DESTROY of our window

    LookupFn m_lookup;
    std::u16string m_text;
    QPointer<Window> m_window;
    QEventLoop* m_modalLoop = nullptr;
    int m_result = 0;
};
