#include "skins/client_skin.h"

#include <QBuffer>
#include <QPainter>

#include <functional>

#include "skins/skin_art.h"

namespace clientskin {
namespace {

using skinart::Face;
using skinart::Icon;

// Layout tables give rectangles as QRect(x, y, width, height) in the owner
// window's client coordinates; the pack stores them as left, top, right,
// bottom with right and bottom one past the last pixel.
struct ButtonSpec {
    int id;
    QRect rect;
    Face face;
};

struct RectSpec {
    int id;
    QRect rect;
};

// ---------------------------------------------------------------------------
// Client view, 1024 × 768: video top-left, the button bar under it, a tray
// for the two popup panels under the bar, the login form and the status list
// in the right column.

constexpr int kViewBackground = 10001;
const QRect kViewRect(0, 0, 1024, 768);
const QRect kVideo(12, 12, 720, 480);
const QRect kBarPanel(12, 500, 720, 108);
const QRect kTray(12, 616, 720, 145);
const QRect kLoginPanel(744, 12, 268, 160);
const QRect kStatusPanel(744, 184, 268, 544);

// Rows of the bar: three rows of small keys; tall keys span two of them.
constexpr int kRow1 = 521, kRow2 = 548, kRow3 = 575, kRowH = 24;
constexpr int kTallH = 37, kTallRow2 = kRow1 + kTallH + 4;

const std::vector<RectSpec> kViewRects = {
    {30100, QRect(826, 40, 174, 24)},       // address
    {30101, QRect(826, 72, 174, 24)},       // port
    {30102, QRect(826, 104, 174, 24)},      // user ID
    {30103, QRect(826, 136, 174, 24)},      // password
    {30104, QRect(756, 210, 244, 506)},     // status list
    {30105, kVideo},                        // video area
    {30106, QRect(553, kRow3, 34, kRowH)},  // PTZ channel number
    {30107, QRect(744, 738, 268, 20)},      // version text
};

const std::vector<ButtonSpec> kViewButtons = {
    // Connection
    {20000, QRect(24, kRow1, 104, kRowH), {Icon::Power, "CONNECT"}},
    {20004, QRect(24, kRow2, 104, kRowH), {Icon::Unplug, "DISCONNECT"}},
    {20008, QRect(24, kRow3, 104, kRowH), {Icon::Exit, "EXIT"}},
    // Panels
    {20012, QRect(152, kRow1, 100, kTallH), {Icon::Keypad, "KEYS"}},
    {20016, QRect(256, kRow1, 100, kTallH), {Icon::Sliders, "SETUP"}},
    {20080, QRect(152, kTallRow2, 100, kTallH), {Icon::Search, "SEARCH"}},
    {20076, QRect(256, kTallRow2, 100, kTallH), {Icon::Microphone, "TALK"}},
    // PTZ pad: eight directions around a centre hub
    {20072, QRect(382, kRow1, 24, kRowH), {Icon::ArrowUpLeft}},
    {20044, QRect(409, kRow1, 24, kRowH), {Icon::ArrowUp}},
    {20048, QRect(436, kRow1, 24, kRowH), {Icon::ArrowUpRight}},
    {20068, QRect(382, kRow2, 24, kRowH), {Icon::ArrowLeft}},
    {20052, QRect(436, kRow2, 24, kRowH), {Icon::ArrowRight}},
    {20064, QRect(382, kRow3, 24, kRowH), {Icon::ArrowDownLeft}},
    {20060, QRect(409, kRow3, 24, kRowH), {Icon::ArrowDown}},
    {20056, QRect(436, kRow3, 24, kRowH), {Icon::ArrowDownRight}},
    // Zoom, focus and the PTZ channel
    {20024, QRect(528, kRow1, 40, kRowH), {Icon::Minus}},
    {20020, QRect(572, kRow1, 40, kRowH), {Icon::Plus}},
    {20036, QRect(528, kRow2, 40, kRowH), {Icon::None, "NEAR"}},
    {20040, QRect(572, kRow2, 40, kRowH), {Icon::None, "FAR"}},
    {20028, QRect(528, kRow3, 22, kRowH), {Icon::Minus}},
    {20032, QRect(590, kRow3, 22, kRowH), {Icon::Plus}},
    {20084, QRect(636, kRow1, 84, kRow3 + kRowH - kRow1), {Icon::None, "PTZ\nMODE", false, true}},
};

// The popup panels dock in the tray under the bar.
constexpr int kKeyPanelBackground = 10002;
const QRect kKeyPanelRect(kTray.left(), kTray.top(), 504, 145);
constexpr int kPlayPanelBackground = 10003;
const QRect kPlayPanelRect(kTray.left() + 512, kTray.top(), 138, 145);

void PaintViewBackground(QPainter& p) {
    skinart::FillWindow(p, kViewRect);

    // Video: a sunken frame, then the colour key the client leaves unpainted.
    skinart::DrawWell(p, kVideo.adjusted(-2, -2, 2, 2), 2);
    p.fillRect(kVideo, skinart::theme::kVideoKey);

    // Button bar with its three groups.
    skinart::DrawPanel(p, kBarPanel);
    skinart::DrawCaption(p, 24, 506, "Connection");
    skinart::DrawCaption(p, 152, 506, "Panels");
    skinart::DrawCaption(p, 382, 506, "Pan / Tilt");
    skinart::DrawCaption(p, 476, 506, "Lens");
    skinart::DrawCaption(p, 636, 506, "Control");
    skinart::DrawVerticalDivider(p, 140, 508, 600);
    skinart::DrawVerticalDivider(p, 368, 508, 600);
    skinart::DrawVerticalDivider(p, 624, 508, 600);
    // The pad sits in a sunken plate; its centre is a hub, not a key.
    skinart::DrawWell(p, QRect(378, kRow1 - 4, 86, 3 * kRowH + 2 * 3 + 8), 8);
    {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        const QPointF hub(409 + 12, kRow2 + 12);
        p.setPen(QPen(QColor(0x4a, 0x51, 0x5e), 1.2));
        p.setBrush(QColor(0x22, 0x26, 0x2d));
        p.drawEllipse(hub, 8, 8);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x3d, 0x8b, 0xfd, 150));
        p.drawEllipse(hub, 2.5, 2.5);
        p.restore();
    }
    skinart::DrawLabel(p, QRect(476, kRow1, 50, kRowH), "Zoom");
    skinart::DrawLabel(p, QRect(476, kRow2, 50, kRowH), "Focus");
    skinart::DrawLabel(p, QRect(476, kRow3, 50, kRowH), "Camera");
    skinart::DrawWell(p, QRect(553, kRow3, 34, kRowH));

    // Tray for the key and playback panels while they are hidden.
    skinart::DrawWell(p, kTray.adjusted(-2, -2, 2, 2), 6);
    p.save();
    p.setPen(QPen(QColor(0x2e, 0x33, 0x3c), 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(kKeyPanelRect).adjusted(4.5, 4.5, -4.5, -4.5), 5, 5);
    p.drawRoundedRect(QRectF(kPlayPanelRect).adjusted(4.5, 4.5, -4.5, -4.5), 5, 5);
    p.setFont(skinart::UiFont(10, true, 112));
    p.setPen(QColor(0x3a, 0x40, 0x4b));
    p.drawText(kKeyPanelRect, Qt::AlignCenter, "REMOTE KEYS");
    p.drawText(kPlayPanelRect, Qt::AlignCenter, "PLAYBACK");
    p.restore();

    // Login form.
    skinart::DrawPanel(p, kLoginPanel);
    skinart::DrawCaption(p, 756, 20, "Recorder");
    const char* labels[] = {"Address", "Port", "User ID", "Password"};
    for (int i = 0; i < 4; ++i) {
        const QRect edit = kViewRects[i].rect;
        skinart::DrawLabel(p, QRect(756, edit.top(), 66, edit.height()), labels[i]);
        skinart::DrawWell(p, edit);
    }

    // Status list.
    skinart::DrawPanel(p, kStatusPanel);
    skinart::DrawCaption(p, 756, 192, "Status");
    skinart::DrawWell(p, kViewRects[4].rect);

    // The version strip (30107) stays plain window colour: the client writes
    // there in white with a dark outline.
}

// ---------------------------------------------------------------------------
// Main key panel, 504 × 145: a 4 × 4 channel keypad, the three division keys,
// and a 4 × 3 block of function keys.

constexpr int kKeyTop = 26;

QRect ChannelKey(int n) {
    const int col = (n - 1) % 4, row = (n - 1) / 4;
    return QRect(10 + col * 33, kKeyTop + row * 29, 30, 26);
}

QRect FunctionKey(int col, int row) {
    return QRect(238 + col * 65, kKeyTop + row * 39, 61, 35);
}

std::vector<ButtonSpec> KeyPanelButtons() {
    std::vector<ButtonSpec> keys;
    for (int n = 1; n <= 16; ++n) {
        keys.push_back({20200 + 4 * (n - 1), ChannelKey(n), {Icon::None, QString::number(n)}});
    }
    keys.push_back({20264, QRect(158, kKeyTop, 60, 35), {Icon::Grid2, "4"}});
    keys.push_back({20268, QRect(158, kKeyTop + 39, 60, 35), {Icon::Grid3, "9"}});
    keys.push_back({20272, QRect(158, kKeyTop + 78, 60, 35), {Icon::Grid4, "16"}});
    keys.push_back({20276, FunctionKey(3, 1), {Icon::None, "STATUS"}});
    keys.push_back({20280, FunctionKey(0, 0), {Icon::Play, "PLAY"}});
    keys.push_back({20284, FunctionKey(1, 0), {Icon::Stop, "STOP"}});
    keys.push_back({20288, FunctionKey(2, 0), {Icon::None, "FREEZE"}});
    keys.push_back({20292, FunctionKey(0, 1), {Icon::None, "SEQ"}});
    keys.push_back({20296, FunctionKey(1, 1), {Icon::None, "PIP"}});
    keys.push_back({20300, FunctionKey(3, 0), {Icon::None, "RELEASE"}});
    keys.push_back({20304, FunctionKey(2, 1), {Icon::None, "ZOOM"}});
    keys.push_back({20308, FunctionKey(0, 2), {Icon::None, "DISPLAY"}});
    keys.push_back({20312, FunctionKey(3, 2), {Icon::Close, "CLOSE"}});
    keys.push_back({20316, FunctionKey(1, 2), {Icon::None, "F1"}});
    keys.push_back({20320, FunctionKey(2, 2), {Icon::None, "F2"}});
    return keys;
}

void PaintTitledPanel(QPainter& p, const QRect& r, const QString& title) {
    p.fillRect(r, skinart::theme::kWindow);
    skinart::DrawPanel(p, r);
    skinart::DrawCaption(p, 10, 8, title);
    // Grip dots: the panel is dragged by its background.
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 40));
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 2; ++j)
            p.drawEllipse(QPointF(r.right() - 24 + i * 5, 10 + j * 5), 1.1, 1.1);
    }
    p.restore();
}

void PaintKeyPanel(QPainter& p) {
    const QRect r(0, 0, kKeyPanelRect.width(), kKeyPanelRect.height());
    PaintTitledPanel(p, r, "Remote keys");
    skinart::DrawVerticalDivider(p, 148, kKeyTop, kKeyTop + 113);
    skinart::DrawVerticalDivider(p, 228, kKeyTop, kKeyTop + 113);
}

// ---------------------------------------------------------------------------
// Playback panel, 138 × 145: transport keys three abreast, stop across.

QRect PlayKey(int col, int row) {
    return QRect(10 + col * 41, kKeyTop + row * 29, 36, 25);
}

std::vector<ButtonSpec> PlayPanelButtons() {
    return {
        {20400, PlayKey(0, 0), {Icon::Rewind}},
        {20404, PlayKey(1, 0), {Icon::Play}},
        {20408, PlayKey(2, 0), {Icon::FastForward}},
        {20412, PlayKey(1, 1), {Icon::Pause}},
        {20416, PlayKey(0, 1), {Icon::StepBack}},
        {20420, PlayKey(2, 1), {Icon::StepForward}},
        {20424, PlayKey(1, 2), {Icon::Slow}},
        {20428, QRect(10, kKeyTop + 3 * 29, 118, 26), {Icon::Stop, "STOP"}},
        {20432, PlayKey(0, 2), {Icon::SkipBack}},
        {20436, PlayKey(2, 2), {Icon::SkipForward}},
    };
}

void PaintPlayPanel(QPainter& p) {
    PaintTitledPanel(p, QRect(0, 0, kPlayPanelRect.width(), kPlayPanelRect.height()), "Playback");
}

// ---------------------------------------------------------------------------
// Search dialog, 560 × 400, centred over the view. Its three pages share one
// area; labels of the time page are painted where the event and record pages
// put their lists, so they only show on the time page.

constexpr int kSearchBackground = 10004;
const QRect kSearchRect(232, 184, 560, 400);
constexpr int kSliderChannel = 10005, kSliderChannelActive = 10006, kSliderThumb = 20616;
const QRect kSlider(24, 220, 512, 24);
const QRect kPageArea(14, 108, 532, 246);

struct TimeList {
    int id;
    QRect rect;
    const char* label;
};
const std::vector<TimeList> kTimeLists = {
    {30110, QRect(24, 146, 72, 22), "Year"}, {30111, QRect(104, 146, 52, 22), "Month"},
    {30112, QRect(164, 146, 34, 22), "Day"}, {30113, QRect(232, 146, 52, 22), "Hour"},
    {30114, QRect(292, 146, 52, 22), "Min"}, {30115, QRect(352, 146, 52, 22), "Sec"},
};

std::vector<RectSpec> SearchRects() {
    std::vector<RectSpec> rects = {
        {30108, QRect(58, 76, 212, 22)},     // range start
        {30109, QRect(310, 76, 236, 22)},    // range end
        {30116, QRect(456, 190, 80, 22)},    // slider position
        {30117, QRect(210, 118, 326, 195)},  // events of the day
        {30118, QRect(276, 322, 40, 22)},    // page number
        {30119, QRect(320, 322, 44, 22)},    // page count
        {30120, QRect(24, 118, 175, 195)},   // calendar
        {30121, QRect(24, 118, 512, 226)},   // recording segments
    };
    for (const TimeList& t : kTimeLists)
        rects.push_back({t.id, t.rect});
    return rects;
}

std::vector<ButtonSpec> SearchButtons() {
    return {
        {20600, QRect(526, 6, 24, 20), {Icon::Close}},
        {20604, QRect(118, 40, 100, 26), {Icon::None, "EVENTS"}},
        {20608, QRect(436, 362, 110, 28), {Icon::Play, "PLAY", true}},
        {20612, QRect(14, 40, 100, 26), {Icon::None, "TIME"}},
        {20620, QRect(222, 40, 100, 26), {Icon::None, "RECORDS"}},
        {20624, QRect(210, 322, 60, 22), {Icon::None, "\u25C2 PREV"}},
        {20628, QRect(370, 322, 60, 22), {Icon::None, "NEXT \u25B8"}},
    };
}

void PaintSearchDialog(QPainter& p) {
    const QRect r(0, 0, kSearchRect.width(), kSearchRect.height());
    p.fillRect(r, skinart::theme::kWindow);
    skinart::DrawPanel(p, r);
    p.save();
    p.setFont(skinart::UiFont(13, true));
    p.setPen(skinart::theme::kText);
    p.drawText(QRect(14, 6, 300, 22), Qt::AlignLeft | Qt::AlignVCenter, "Search recordings");
    p.setPen(QColor(0x1a, 0x1d, 0x22));
    p.drawLine(1, 31, r.width() - 2, 31);
    p.setPen(QColor(255, 255, 255, 18));
    p.drawLine(1, 32, r.width() - 2, 32);
    p.restore();

    skinart::DrawLabel(p, QRect(14, 76, 42, 22), "From");
    skinart::DrawLabel(p, QRect(282, 76, 26, 22), "To");
    skinart::DrawWell(p, QRect(58, 76, 212, 22));
    skinart::DrawWell(p, QRect(310, 76, 236, 22));

    skinart::DrawWell(p, kPageArea, 4);
    // Time page: labels over the lists, date and time separators, slider ends.
    for (const TimeList& t : kTimeLists) {
        skinart::DrawCaption(p, t.rect.left() + 1, 130, t.label);
    }
    p.save();
    p.setFont(skinart::UiFont(12, true));
    p.setPen(skinart::theme::kCaption);
    p.drawText(QRect(96, 146, 8, 22), Qt::AlignCenter, "/");
    p.drawText(QRect(156, 146, 8, 22), Qt::AlignCenter, "/");
    p.drawText(QRect(284, 146, 8, 22), Qt::AlignCenter, ":");
    p.drawText(QRect(344, 146, 8, 22), Qt::AlignCenter, ":");
    p.restore();
    skinart::DrawLabel(p, QRect(380, 190, 70, 22), "Position", Qt::AlignRight | Qt::AlignVCenter);
    skinart::DrawWell(p, QRect(456, 190, 80, 22));
    skinart::DrawCaption(p, 24, 250, "Start");
    p.save();
    p.setFont(skinart::UiFont(9, true, 112));
    p.setPen(skinart::theme::kCaption);
    p.drawText(QRect(436, 250, 100, 12), Qt::AlignRight | Qt::AlignVCenter, "END");
    p.restore();
}

// Slider channel: a groove with tick marks; the active picture fills it.
QImage RenderSliderChannel(const QImage& base, bool active) {
    QImage img = base.convertToFormat(QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF groove(7, 9.5, img.width() - 14, 5);
    p.setPen(QPen(QColor(0x0c, 0x0e, 0x11), 1));
    if (active) {
        QLinearGradient g(groove.topLeft(), groove.bottomLeft());
        g.setColorAt(0, skinart::theme::kAccent);
        g.setColorAt(1, skinart::theme::kAccentDark);
        p.setBrush(g);
    } else {
        p.setBrush(QColor(0x0f, 0x11, 0x14));
    }
    p.drawRoundedRect(groove, 2.5, 2.5);
    p.setPen(QPen(QColor(0x4a, 0x51, 0x5e), 1));
    for (int i = 0; i <= 10; ++i) {
        const double x = groove.left() + groove.width() * i / 10.0;
        p.drawLine(QPointF(x, 18.5), QPointF(x, i % 5 == 0 ? 23 : 21));
    }
    return img;
}

// ---------------------------------------------------------------------------

std::string EncodePng(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

pixmart::PackRect ToPackRect(const QRect& r) {
    // Windows-style rectangles: right and bottom are one past the last pixel.
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

// One window: its background, drawn by `paint`, and the buttons on it.
struct Sheet {
    int backgroundId;
    QRect placement;  // where the window sits, in view coordinates
    std::function<void(QPainter&)> paint;
    std::vector<ButtonSpec> buttons;
    std::vector<RectSpec> rects;
};

QImage PaintBackground(const Sheet& sheet) {
    QImage bg(sheet.placement.size(), QImage::Format_RGB32);
    bg.fill(skinart::theme::kWindow);
    QPainter p(&bg);
    p.setRenderHint(QPainter::TextAntialiasing);
    sheet.paint(p);
    return bg;
}

void AddButton(std::vector<pixmart::PackEntryData>& out, int id, const QRect& rect,
               const std::array<QImage, 4>& looks) {
    pixmart::PackEntryData e{id, pixmart::PackKind::Button, ToPackRect(rect), {}};
    for (int i = 0; i < 4; ++i)
        e.blobs[i] = EncodePng(looks[i]);
    out.push_back(std::move(e));
}

// Adds the sheet's entries; returns the background with the buttons at rest.
QImage AddSheet(std::vector<pixmart::PackEntryData>& out, const Sheet& sheet) {
    const QImage bg = PaintBackground(sheet);
    out.push_back({sheet.backgroundId,
                   pixmart::PackKind::Background,
                   ToPackRect(sheet.placement),
                   {EncodePng(bg), {}, {}, {}}});
    QImage preview = bg.copy();
    QPainter p(&preview);
    for (const ButtonSpec& b : sheet.buttons) {
        const auto looks = skinart::RenderButton(bg.copy(b.rect), b.face);
        AddButton(out, b.id, b.rect, looks);
        p.drawImage(b.rect.topLeft(), looks[skinart::kNormal]);
    }
    for (const RectSpec& r : sheet.rects) {
        out.push_back({r.id, pixmart::PackKind::RectOnly, ToPackRect(r.rect), {}});
    }
    return preview;
}

}  // namespace

RenderedSkin RenderClientSkin() {
    RenderedSkin skin;
    auto& entries = skin.entries;

    const QImage view = AddSheet(
        entries, {kViewBackground, kViewRect, PaintViewBackground, kViewButtons, kViewRects});
    const QImage keys = AddSheet(
        entries, {kKeyPanelBackground, kKeyPanelRect, PaintKeyPanel, KeyPanelButtons(), {}});
    const QImage play = AddSheet(
        entries, {kPlayPanelBackground, kPlayPanelRect, PaintPlayPanel, PlayPanelButtons(), {}});

    Sheet search{kSearchBackground, kSearchRect, PaintSearchDialog, SearchButtons(), SearchRects()};
    QImage searchPreview = AddSheet(entries, search);

    // The slider: channel pictures placed by 10005, thumb looks from 20616.
    const QImage searchBg = PaintBackground(search);
    const QImage channel = RenderSliderChannel(searchBg.copy(kSlider), false);
    const QImage channelActive = RenderSliderChannel(searchBg.copy(kSlider), true);
    entries.push_back({kSliderChannel,
                       pixmart::PackKind::Background,
                       ToPackRect(kSlider),
                       {EncodePng(channel), {}, {}, {}}});
    entries.push_back({kSliderChannelActive,
                       pixmart::PackKind::Background,
                       ToPackRect(kSlider),
                       {EncodePng(channelActive), {}, {}, {}}});
    const QRect thumbRect(kSlider.left(), kSlider.top(), 14, kSlider.height());
    const auto thumb = skinart::RenderThumb(thumbRect.size());
    AddButton(entries, kSliderThumb, thumbRect, thumb);
    {
        // Preview the slider at 40 %: active part left of the thumb centre.
        QPainter p(&searchPreview);
        const int centre = 7 + (kSlider.width() - 14) * 40 / 100;
        p.drawImage(kSlider.topLeft(), channel);
        p.drawImage(kSlider.topLeft(), channelActive, QRect(0, 0, centre, kSlider.height()));
        QImage t = thumb[skinart::kNormal].convertToFormat(QImage::Format_ARGB32);
        const QRgb key = t.pixel(0, 0);
        for (int y = 0; y < t.height(); ++y) {
            for (int x = 0; x < t.width(); ++x) {
                if (t.pixel(x, y) == key)
                    t.setPixel(x, y, 0);
            }
        }
        p.drawImage(kSlider.left() + centre - 7, kSlider.top(), t);
    }

    // The view with both panels docked in their tray.
    QImage docked = view.copy();
    {
        QPainter p(&docked);
        p.drawImage(kKeyPanelRect.topLeft(), keys);
        p.drawImage(kPlayPanelRect.topLeft(), play);
    }

    skin.previews = {{"view", view},
                     {"view-panels", docked},
                     {"keypanel", keys},
                     {"playpanel", play},
                     {"search", searchPreview}};
    return skin;
}

}  // namespace clientskin
