#include "platform/listbox.h"

#include <QVBoxLayout>

ListBox::ListBox(QWidget* parent) : Window(parent), m_list(new QListWidget(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
}

std::u16string ListBox::Text(int index) const {
    const QListWidgetItem* item = m_list->item(index);
    return item != nullptr ? item->text().toStdU16String() : std::u16string();
}

LRESULT ListBox::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case LB_ADDSTRING: {
            const auto* text = reinterpret_cast<const char16_t*>(lParam);
            m_list->addItem(text != nullptr ? QString::fromUtf16(text) : QString());
            return m_list->count() - 1;
        }
        case LB_DELETESTRING: {
            const int index = static_cast<int>(wParam);
            if (index < 0 || index >= m_list->count()) {
                return -1;
            }
            delete m_list->takeItem(index);
            return m_list->count();
        }
        case LB_RESETCONTENT:
            m_list->clear();
            return 0;
        case LB_SETCURSEL:
            m_list->setCurrentRow(static_cast<int>(wParam));
            if (m_list->currentItem() != nullptr) {
                m_list->scrollToItem(m_list->currentItem());
            }
            return 0;
        case LB_GETCURSEL:
            return m_list->currentRow();
        case LB_GETCOUNT:
            return m_list->count();
        default:
            return Window::WindowProc(msg, wParam, lParam);
    }
}
