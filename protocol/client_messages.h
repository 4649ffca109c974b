#pragma once
// The client's own window messages. The numbers are fixed: hosts, the
// transport and the panels rely on them.

#include "platform/wintypes.h"

enum : UINT {
    UM_BUTTON_CLICK = 1124,   // wParam button id; lParam low word toggle flag, high word checked
    UM_BUTTON_REPEAT = 1125,  // wParam button id: end of an auto-repeat
    UM_REPAINT_RECT = 1126,   // wParam button id; lParam rectangle to copy from the back buffer
    UM_DRAW_BUTTON = 1127,    // wParam button; lParam its rectangle
    UM_BUTTON_DOWN = 1128,    // wParam button id
    UM_BUTTON_UP = 1129,      // wParam button id
    UM_CLOSE_REQUEST = 1225,  // view -> control -> host: please close
    UM_EVENT_LIST_DONE = 1226,
    UM_EVENT_RAW_DATA = 1227,
    UM_LINK_IDLE = 1228,      // link timer: no packet for more than 20 s
    UM_MIC_DATA = 1724,       // wParam byte count, lParam data
    UM_PLAY_PANEL = 1824,     // wParam 1, 2, 3 or other
    UM_CALENDAR_PICK = 1825,
    UM_SLIDER_MOVING = 1924,
    UM_SLIDER_MOVED = 1925,

    // From the transport (protocol/qremotesocket.h).
    UM_NET_PACKET = 1425,     // also 1625, 1635, 1645
    UM_NET_PACKET_2 = 1625,
    UM_NET_PACKET_3 = 1635,
    UM_NET_PACKET_4 = 1645,
    UM_NET_CONNECTED = 1445,
    UM_NET_CLOSED = 1446,
    UM_NET_IGNORED_1 = 1451,
    UM_NET_STREAM = 1637,
    UM_NET_IGNORED_2 = 1638,
    UM_NET_TALK_OPEN = 1639,
    UM_NET_TALK_CLOSE = 1640,
};
