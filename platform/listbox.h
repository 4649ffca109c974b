#pragma once
// A list box window that takes the classic list box messages, so that any
// thread can add lines with SendMessage and the list changes only on its own
// thread.

#include <QListWidget>

#include "platform/window.h"

enum : UINT {
    LB_ADDSTRING = 0x0180,     // lParam: const char16_t* (NUL-terminated); returns the index
    LB_DELETESTRING = 0x0182,  // wParam: index; returns the count left, -1 for a bad index
    LB_RESETCONTENT = 0x0184,
    LB_SETCURSEL = 0x0186,     // wParam: index
    LB_GETCURSEL = 0x0188,
    LB_GETCOUNT = 0x018B,
};

class ListBox : public Window {
public:
    explicit ListBox(QWidget* parent = nullptr);

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Reading on the list's own thread.
    int Count() const { return m_list->count(); }
    std::u16string Text(int index) const;
    QListWidget* List() const { return m_list; }

private:
    QListWidget* m_list;
};
