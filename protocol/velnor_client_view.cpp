// The view's life: creation of its controls, connection, login, disconnection,
// reconnection, key mode and teardown.

#include "protocol/velnor_client_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QThread>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "control/config_files.h"
#include "platform/codepage.h"
#include "panels/tooltip_list_box.h"
#include "platform/module_info.h"
#include "platform/neighbour_table.h"
#include "platform/periodic_timer.h"
#include "platform/textconv.h"
#include "media/viewcore.h"
#include "protocol/client_messages.h"

std::atomic<std::uint16_t> VelnorClientView::lastPtzChannel{0};

namespace {

// The link watchdog: more ticks than this without a packet while logged in
// reconnects.
constexpr std::uint32_t kIdleTickLimit = 20000;
constexpr int kStatusLineLimit = 1000;  // newest lines kept in the status list
constexpr std::size_t kVersionTextUnits = 25;

class PeriodicTickSource : public TickSource {
public:
    bool Start(unsigned periodMs, std::function<void()> tick) override {
        return m_timer.Start(periodMs, std::move(tick));
    }
    void Stop() override { m_timer.Stop(); }

private:
    PeriodicTimer m_timer;
};

// The unsigned number of an edit's text; 0 when it is not a number.
std::int32_t UnsignedValue(const std::u16string& text) {
    std::uint64_t v = 0;
    bool digits = false;
    for (char16_t c : text) {
        if (c == u' ' && !digits) {
            continue;
        }
        if (c < u'0' || c > u'9') {
            return 0;
        }
        digits = true;
        v = v * 10 + static_cast<std::uint64_t>(c - u'0');
        if (v > 0xFFFFFFFFull) {
            return 0;
        }
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

}  // namespace

bool IsPtzPadButton(int id) {
    return id >= kBtnPtzFirst && id <= kBtnPtzLast && (id - 20000) % 4 == 0 &&
           id != kBtnPtzChannelDown && id != kBtnPtzChannelUp;
}

VelnorClientView::VelnorClientView(QWidget* parent)
    : Window(parent),
      m_streams(std::make_unique<StreamBuffers>()),
      m_decompressWorker("Decompress", [this] { DecodeStep(); }),
      m_displayWorker("Display", [this] { DisplayStep(); }),
      m_audioOutWorker("AudioOut", [this] { AudioOutStep(); }),
      m_audioInWorker("AudioIn", [this] { SendMicRecord(); }),
      m_decoder(&VidcoreDecoder()),
      m_displaySink(&ViewcoreSink()) {
    m_tickSource = std::make_unique<PeriodicTickSource>();
    m_neighbours = &SystemNeighbourTable();
    CreateControls();
}

VelnorClientView::~VelnorClientView() {
    qApp->removeEventFilter(this);
    Teardown();
}

void VelnorClientView::CreateControls() {
    const int limits[4] = {100, 5, 50, 20};
    for (int i = 0; i < 4; ++i) {
        auto* edit = new QLineEdit(this);
        SetControlId(edit, IDC_ADDRESS + i);
        edit->setMaxLength(limits[i]);
        edit->setFrame(false);
        // White text on a transparent background: the form sits on the skin.
        edit->setStyleSheet("background: transparent; color: white;");
        m_edits[i] = edit;
    }
    m_edits[3]->setEchoMode(QLineEdit::Password);

    m_statusList = new CToolTipListBox(this);
    SetControlId(m_statusList, IDC_STATUS_LIST);
    m_statusList->List()->setFrameShape(QFrame::NoFrame);
    m_statusList->List()->setStyleSheet("background: transparent; color: white;");
    m_statusList->List()->viewport()->setAutoFillBackground(false);

    m_ptzChannelLabel = new QLabel(QStringLiteral("1"), this);
    SetControlId(m_ptzChannelLabel, IDC_PTZ_CHANNEL);
    m_ptzChannelLabel->setAlignment(Qt::AlignCenter);
    m_ptzChannelLabel->setStyleSheet("color: white; background: transparent;");
}

namespace {
QRect ToQRect(const SkinRect& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }
SkinRect SkinRectOf(int id) {
    SkinRect r;
    BLDAPI_GetResourceRect(id, &r);
    return r;
}
}  // namespace

void VelnorClientView::LayOutSkin() {
    m_skin = std::make_unique<SkinnedSurface>(*this);
    for (int k = 0; k < kBarButtonCount; ++k) {
        m_skin->CreateButton(static_cast<UINT>(BarButtonId(k)));
    }
    Button(kBtnKeyPanel)->MakeToggle(false);
    Button(kBtnTalk)->MakeToggle(false);
    Button(kBtnPtzMode)->MakeToggle(true);
    for (int id = kBtnPtzFirst; id <= kBtnPtzLast; id += 4) {
        if (IsPtzPadButton(id)) {
            Button(id)->SetAutoRepeat(500);
        }
    }
    for (int id = IDC_ADDRESS; id <= IDC_STATUS_LIST; ++id) {
        GetDlgItem(id)->setGeometry(ToQRect(SkinRectOf(kSkinFirstControlRect + id - IDC_ADDRESS)));
    }
    m_ptzChannelLabel->setGeometry(ToQRect(SkinRectOf(kSkinPtzChannelRect)));
    m_ptzChannelLabel->setText(QStringLiteral("1"));

    CreateMedia();

    // The background: pure blue is left out when it is painted, so the video
    // surface (and any window placed there) shows through.
    m_skin->LoadBackground(kSkinViewBackground);
    QImage& back = m_skin->BackBuffer();
    back = back.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < back.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(back.scanLine(y));
        for (int x = 0; x < back.width(); ++x) {
            if ((row[x] & 0x00FFFFFFu) == 0x000000FFu) {
                row[x] = 0;
            }
        }
    }
    {
        QPainter painter(&back);
        PaintVersionText(painter);
    }
    m_skin->DrawAll();
    const SkinRect& bk = m_skin->BackgroundRect();
    if (parentWidget() == nullptr || size().isEmpty()) {
        resize(bk.right, bk.bottom);
    }
    update();
}

void VelnorClientView::PaintVersionText(QPainter& painter) {
    // White text with a one-pixel black outline, readable on any skin.
    const QRect r = ToQRect(SkinRectOf(kSkinVersionRect));
    const QString text = QString::fromStdU16String(m_versionText);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter;
    painter.setPen(Qt::black);
    for (const QPoint d : {QPoint(0, -1), QPoint(0, 1), QPoint(1, 0), QPoint(-1, 0)}) {
        painter.drawText(r.translated(d), flags, text);
    }
    painter.setPen(Qt::white);
    painter.drawText(r, flags, text);
}

void VelnorClientView::Initialise() {
    if (m_initialised) {
        return;
    }
    m_initialised = true;
    m_versionText = status_texts::VersionText(
        [] () -> std::optional<std::pair<std::uint32_t, std::uint32_t>> {
            std::uint32_t ms = 0, ls = 0;
            if (ReadModuleFileVersion(ModulePathOf(reinterpret_cast<const void*>(&IsPtzPadButton)),
                                      &ms, &ls)) {
                return std::make_pair(ms, ls);
            }
            return std::nullopt;
        }(),
        kVersionTextUnits);
    m_waitDlg.SetLookup([this](std::u16string_view section, std::u16string_view key) {
        return config_files::Translate(m_langFile, section, key);
    });
    NSMGAPI_Initialize();
    m_transport = NSMGAPI_Create(hwnd());
    LayOutSkin();
    m_langFile = config_files::BuildLanguagePath(
        ModulePathOf(reinterpret_cast<const void*>(&IsPtzPadButton)));
    SetDisconnectedLook();
    qApp->installEventFilter(this);
}

// --- form and buttons ----------------------------------------------------------

std::u16string VelnorClientView::EditText(int id) const {
    auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id));
    return edit != nullptr ? edit->text().toStdU16String() : std::u16string();
}

void VelnorClientView::SetEditText(int id, const std::u16string& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id))) {
        edit->setText(QString::fromStdU16String(text));
    }
}

ImageButton* VelnorClientView::Button(int id) const {
    return m_skin != nullptr ? m_skin->Buttons().Find(static_cast<UINT>(id)) : nullptr;
}

bool VelnorClientView::ButtonEnabled(int id) const {
    const ImageButton* b = Button(id);
    return b != nullptr && b->enabled != 0;
}

bool VelnorClientView::ButtonChecked(int id) const {
    const ImageButton* b = Button(id);
    return b != nullptr && b->checked != 0;
}

void VelnorClientView::SetButtonChecked(int id, bool checked) {
    if (ImageButton* b = Button(id)) {
        b->SetChecked(checked);
    }
}

void VelnorClientView::SetButtonEnabled(int id, bool enabled) {
    if (ImageButton* b = Button(id)) {
        b->SetEnabled(enabled);
    }
}

void VelnorClientView::ShowWaitingDialog() { m_waitDlg.Create(); }

void VelnorClientView::CloseWaitingDialog() { m_waitDlg.Destroy(); }

// Group 1: key panel, setup, two-way audio, search. Group 2: the PTZ pad, the
// PTZ channel buttons and the PTZ-mode toggle.
void VelnorClientView::SetGroupEnabled(int group, bool enabled) {
    if (group == 1) {
        for (int id : {kBtnKeyPanel, kBtnSetup, kBtnTalk, kBtnSearch}) {
            SetButtonEnabled(id, enabled);
        }
        return;
    }
    for (int id = kBtnPtzFirst; id <= kBtnPtzLast; id += 4) {
        SetButtonEnabled(id, enabled);
    }
    SetButtonEnabled(kBtnPtzMode, enabled);
}

void VelnorClientView::SetDisconnectedLook() {
    SetButtonEnabled(kBtnConnect, true);
    SetButtonEnabled(kBtnDisconnect, false);
    SetGroupEnabled(1, false);
    SetGroupEnabled(2, false);
}

void VelnorClientView::SetConnectedLook() {
    SetButtonEnabled(kBtnConnect, false);
    SetButtonEnabled(kBtnDisconnect, true);
    SetGroupEnabled(1, true);
    SetGroupEnabled(2, true);
}

void VelnorClientView::ApplyRights(std::uint32_t rights) {
    const bool remote = (rights & 4) != 0;
    SetGroupEnabled(1, remote);
    SetGroupEnabled(2, remote);
    SetButtonEnabled(kBtnSearch, (rights & 2) != 0);
}

int VelnorClientView::PtzChannel() const {
    bool ok = false;
    const int n = m_ptzChannelLabel->text().toInt(&ok);
    return ok ? n : 0;
}

void VelnorClientView::SetPtzChannel(int n) { m_ptzChannelLabel->setText(QString::number(n)); }

// --- status list -------------------------------------------------------------------

std::u16string VelnorClientView::Lookup(std::u16string_view word) const {
    return config_files::Translate(m_langFile, u"VIEW", word);
}

void VelnorClientView::WriteStatus(std::u16string_view text) { AppendStatusLine(Lookup(text)); }

void VelnorClientView::WriteStatusF(const char* format, ...) {
    char buffer[1000];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    AppendStatusLine(FromUtf8(buffer));
}

// Appends and selects through list box messages, so that a worker's line is
// added on the list's own thread and is in the list when the call returns.
void VelnorClientView::AppendStatusLine(const std::u16string& line) {
    const HWND list = m_statusList->hwnd();
    SendMessage(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    LRESULT count = SendMessage(list, LB_GETCOUNT, 0, 0);
    if (count > kStatusLineLimit) {
        count = SendMessage(list, LB_DELETESTRING, 0, 0);
    }
    SendMessage(list, LB_SETCURSEL, static_cast<WPARAM>(count - 1), 0);
    if (m_statusObserver) {
        m_statusObserver(line);
    }
}

void VelnorClientView::ShowMode(int code) { WriteStatus(status_texts::ModeName(code)); }

void VelnorClientView::ShowSpeed(std::uint8_t speedByte) {
    std::uint8_t last = m_lastSpeedByte;
    auto line = status_texts::SpeedLine(speedByte, &last,
                                        [this](std::u16string_view w) { return Lookup(w); });
    m_lastSpeedByte = last;
    if (line) {
        WriteStatus(*line);
    }
}

void VelnorClientView::CountFrame() {
    if (auto line = status_texts::CountFrame(&m_stats, m_tickCount.load())) {
        WriteStatusF("%s", line->c_str());
    }
}

std::vector<std::u16string> VelnorClientView::StatusLines() const {
    std::vector<std::u16string> lines;
    for (int i = 0; i < m_statusList->Count(); ++i) {
        lines.push_back(m_statusList->Text(i));
    }
    return lines;
}

void VelnorClientView::SetStatusObserver(std::function<void(const std::u16string&)> observer) {
    m_statusObserver = std::move(observer);
}

void VelnorClientView::SetTickSource(std::unique_ptr<TickSource> source) {
    if (m_linkTimer) {
        m_tickSource->Stop();
        m_linkTimer = false;
    }
    m_tickSource = std::move(source);
}

void VelnorClientView::SetNeighbourTable(NeighbourTable* table) { m_neighbours = table; }

bool VelnorClientView::Send(const packets::Packet& p) {
    return NSMGAPI_SendPacketData(m_transport, p.type, p.data(), p.length) != 0;
}

// --- connection ----------------------------------------------------------------------

void VelnorClientView::OnConnectButton() {
    RestartDecoder();
    m_lastSpeedByte = 0;
    m_stats = {};
    m_playMode = 0;
    m_ptzMode = false;
    m_heldPtzButton = 0;
    m_tickCount = 0;
    m_idleTicks = 0;
    Connect();
}

void VelnorClientView::Connect() {
    const std::u16string address = EditText(IDC_ADDRESS).substr(0, 99);
    const std::u16string user = EditText(IDC_USER).substr(0, 49);
    const std::int32_t port = UnsignedValue(EditText(IDC_PORT));
    if (address.empty() || user.empty()) {
        WriteStatus(u"PLEASE INPUT IP AND USER ID");
        return;
    }
    _tagConnectSocketInfo info{};
    WideToAnsi(address, info.host, sizeof info.host);
    info.kind = 2;
    info.port = port;
    info.waitLimit = 30;
    info.option = 1;
    info.bufferSize = 0x100000;
    WriteStatus(u"PLEASE WAIT...");
    if (NSMGAPI_Connect(m_transport, &info) == 0) {
        return;
    }
    m_connectState = 0;
    config_files::ConnectionForm form;
    form.url = EditText(IDC_ADDRESS);
    form.port = EditText(IDC_PORT);
    form.user = EditText(IDC_USER);
    form.password = EditText(IDC_PASSWORD);
    form.videoStandard = m_videoStandard;
    config_files::SaveConnection(config_files::ConnectionFilePath(), form);
    SetConnectedLook();
    StartWorkers();
}

void VelnorClientView::OnConnectResult(bool success) {
    if (!success) {
        WriteStatus(u"CONNECTION FAILURE");
        SetDisconnectedLook();
        StopWorkers();
        return;
    }
    WriteStatus(u"CONNECTION SUCCESS");
    if (NSMGAPI_SendInitPacketData(m_transport) == 0) {
        Disconnect();
    }
}

void VelnorClientView::OnHello(std::uint32_t value) {
    m_serverHello = value;
    char user[260];
    char password[260];
    WideToAnsi(EditText(IDC_USER).substr(0, 49), user, sizeof user);
    WideToAnsi(EditText(IDC_PASSWORD).substr(0, 19), password, sizeof password);
    if (!Send(packets::EncodeLogin(user, password))) {
        Disconnect();
    }
}

void VelnorClientView::OnLoginReply(const std::uint8_t* payload, std::uint32_t length) {
    packets::LoginReply reply;
    if (!packets::ParseLoginReply(payload, length, &reply)) {
        return;
    }
    if (reply.result != 1) {
        switch (reply.result) {
            case 2: WriteStatus(u"INCORRECT USER PASSWORD"); break;
            case 3: WriteStatus(u"UNKNOWN ERROR"); break;
            case 4: WriteStatus(u"CONNECTION DENIED DUE TO FULL OF USERS"); break;
            case 5: WriteStatus(u"CONNECTION REJECTED"); break;
            case 6: WriteStatus(u"REJECTED BY ADMIN"); break;
            default: WriteStatus(u"LOGIN FAILURE"); break;
        }
        Disconnect();
        return;
    }
    WriteStatusF("%d CH DVR", reply.channels);
    if (!m_linkTimer) {
        m_linkTimer = m_tickSource->Start(1, [this] { OnLinkTick(); });
    }
    m_loginReply = reply.raw;
    m_videoSystemSeen = reply.videoSystem;
    m_connectState = 1;
    WriteStatus(u"LOGIN SUCCESS");
    m_sessionId = reply.sessionId;
    m_channelCount = reply.channels;
    if (m_sessionId != 0 && !Send(packets::EncodeSession(m_sessionId))) {
        Disconnect();
        return;
    }
    ApplyRights(reply.rights);
}

void VelnorClientView::Disconnect() {
    if (m_playMode != 0) {
        SendRemoteKey(1, 18);
        m_playMode = 0;
    }
    if (m_ptzMode) {
        SendRemoteKey(0, 51);  // m_ptzMode itself stays until the next connect
    }
    SetButtonChecked(kBtnPtzMode, false);
    CloseOwnedWindows();
    WriteStatus(u"DISCONNECTED");
    m_connectState = 2;
    SetDisconnectedLook();
    StopWorkers();
    NSMGAPI_Disconnect(m_transport);
    EmptyStreams();
    DPMGAPI_DisplayClear();
    m_stats = {};
    m_heldPtzButton = 0;
    m_lastSpeedByte = 0;
    if (m_linkTimer) {
        m_tickSource->Stop();
        m_linkTimer = false;
    }
}

void VelnorClientView::OnDisconnectButton() {
    Send(packets::EncodeLogout());
    if (m_audioState == 3) {
        EndActiveTalk();
    }
    SetButtonChecked(kBtnTalk, false);
    m_audioState = 0;
    Disconnect();
}

void VelnorClientView::OnLinkTick() {
    m_tickCount.fetch_add(1, std::memory_order_relaxed);
    if (m_connectState.load(std::memory_order_relaxed) != 1) {
        m_idleTicks.store(0, std::memory_order_relaxed);
        return;
    }
    if (m_idleTicks.fetch_add(1, std::memory_order_relaxed) + 1 > kIdleTickLimit) {
        m_idleTicks.store(0, std::memory_order_relaxed);
        PostMessage(hwnd(), UM_LINK_IDLE, 0, 0);
    }
}

void VelnorClientView::OnLinkIdle() {
    WriteStatus(u"RECONNECTED");
    OnBarCommand(kBtnDisconnect);
    QThread::msleep(1000);
    OnBarCommand(kBtnConnect);
}

void VelnorClientView::FlushArpCache() {
    // Room for 401 rows after the row count; a larger table fails the read.
    constexpr std::uint32_t kTableBytes = 4 + 401 * sizeof(IpNetRow);
    alignas(IpNetRow) std::uint8_t buffer[kTableBytes];
    std::uint32_t size = kTableBytes;
    if (m_neighbours == nullptr || m_neighbours->GetIpNetTable(buffer, &size, true) != 0) {
        return;
    }
    std::uint32_t count = 0;
    std::memcpy(&count, buffer, 4);
    count = std::min<std::uint32_t>(count, 401);
    for (std::uint32_t i = 0; i < count; ++i) {
        IpNetRow row;
        std::memcpy(&row, buffer + 4 + i * sizeof(IpNetRow), sizeof row);
        m_neighbours->DeleteIpNetEntry(row);
    }
}

bool VelnorClientView::PreTranslateKey(UINT msg, WPARAM vk) {
    if (!m_keyMode || msg != WM_KEYDOWN) {
        return false;
    }
    switch (vk) {
        case 0x31:
            WriteStatusF("DELETE NET ENTRY");
            FlushArpCache();
            return true;
        case 0x32:
            OnBarCommand(kBtnConnect);
            return true;
        case 0x33:
            OnBarCommand(kBtnDisconnect);
            return true;
        default:
            return false;
    }
}

void VelnorClientView::LoadConnectionFile() {
    const config_files::ConnectionForm form =
        config_files::LoadConnection(config_files::ConnectionFilePath());
    SetEditText(IDC_ADDRESS, form.url);
    SetEditText(IDC_USER, form.user);
    SetEditText(IDC_PASSWORD, form.password);
    SetEditText(IDC_PORT, form.port);
    m_videoStandard = form.videoStandard;
}

bool VelnorClientView::eventFilter(QObject* watched, QEvent* e) {
    // Key mode looks at every key pressed anywhere in the view before the
    // focused control does.
    if (e->type() == QEvent::KeyPress && m_keyMode) {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w != nullptr && (w == this || isAncestorOf(w))) {
            auto* ke = static_cast<QKeyEvent*>(e);
            if (PreTranslateKey(WM_KEYDOWN,
                                VirtualKeyFromQt(ke->key(), ke->modifiers() & Qt::KeypadModifier))) {
                return true;
            }
        }
    }
    return Window::eventFilter(watched, e);
}

void VelnorClientView::CloseOwnedWindows() {
    if (m_playPanel != nullptr) {
        m_playPanel->DestroyWindow();  // reports back through PanelDestroyed
    }
    if (m_keyPanel != nullptr) {
        m_keyPanel->DestroyWindow();
        SetButtonChecked(kBtnKeyPanel, false);
    }
    CloseWaitingDialog();
}

void VelnorClientView::HideOwnedWindows() {
    HidePlayPanel();
    if (m_keyPanel != nullptr) {
        m_keyPanel->hide();
        SetButtonChecked(kBtnKeyPanel, false);
    }
}

// --- the key and playback panels ------------------------------------------------

void VelnorClientView::CreatePanels() {
    if (m_keyPanel == nullptr) {
        m_keyPanel = new MainKeyPanel(*this, this);
    }
    if (m_playPanel == nullptr) {
        m_playPanel = new SetupPlay(*this, this);
    }
}

void VelnorClientView::ToggleKeyPanel(bool show) {
    CreatePanels();
    if (show) {
        m_keyPanel->show();
    } else {
        m_keyPanel->hide();
    }
}

void VelnorClientView::RefreshKeyPanel() {
    if (m_keyPanel != nullptr) {
        m_keyPanel->RefreshKeys();
    }
}

void VelnorClientView::ShowPlayPanel() {
    if (m_playPanel == nullptr) {
        m_playPanel = new SetupPlay(*this, this);
    }
    m_playPanel->ShowPanel();
}

void VelnorClientView::HidePlayPanel() {
    if (m_playPanel != nullptr) {
        m_playPanel->HidePanel();
    }
}

void VelnorClientView::PanelDestroyed(const SkinPanel* panel) {
    if (panel == m_keyPanel) {
        m_keyPanel = nullptr;
    }
    if (panel == m_playPanel) {
        m_playPanel = nullptr;
    }
}

FrameStatusHeader VelnorClientView::CurrentStatus() {
    std::lock_guard<std::mutex> lock(m_currentStatusLock);
    return m_currentStatus;
}

void VelnorClientView::Teardown() {
    if (m_tornDown || !m_initialised) {
        return;
    }
    m_tornDown = true;
    if (m_connectState == 1) {
        Send(packets::EncodeLogout());
        Disconnect();
    }
    CloseOwnedWindows();
    if (m_transport != nullptr) {
        NSMGAPI_Disconnect(m_transport);
        NSMGAPI_Destroy(m_transport);
        m_transport = nullptr;
    }
    m_connectState = 2;
    m_audioState = 0;
    m_videoInfo = {};
    if (m_linkTimer) {
        m_tickSource->Stop();
        m_linkTimer = false;
    }
    StopCapture();
    StopTalkPlayback();
    DestroyMedia();
    m_versionText.clear();
    m_loginReply = {};
    m_dvrTime = {};
    m_showStats = false;
    m_rawSearchData.clear();
    NSMGAPI_Uninitialize();
}
