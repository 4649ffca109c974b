// Pixmart: loading skin packs, and the default client pack the build renders.

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <QBuffer>
#include <QImage>
#include <QRect>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "panels/pixmart.h"
#include "tests/test_support.h"

namespace {

const char* const kClientPack = "ResKV.dll";

// ---- what the client asks of its skin -------------------------------------

enum class Kind { Background, Button, RectOnly };

struct IdRange {
    int first, last, step;
    Kind kind;
};

// Every id the client looks up.
const IdRange kClientIds[] = {
    {10001, 10006, 1, Kind::Background},  // view, key panel, playback, search, slider channels
    {20000, 20084, 4, Kind::Button},      // view button bar
    {20200, 20320, 4, Kind::Button},      // main key panel
    {20400, 20436, 4, Kind::Button},      // playback panel
    {20600, 20628, 4, Kind::Button},      // search dialog, slider thumb 20616
    {30100, 30121, 1, Kind::RectOnly},    // controls placed on the skin
};

std::vector<int> IdsOf(const IdRange& r) {
    std::vector<int> ids;
    for (int id = r.first; id <= r.last; id += r.step)
        ids.push_back(id);
    return ids;
}

QRect ToQRect(const SkinRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

SkinRect RectOf(int id) {
    SkinRect r{-1, -1, -1, -1};
    BLDAPI_GetResourceRect(id, &r);
    return r;
}

bool IsEmpty(const SkinRect& r) {
    return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
}

struct Looks {
    HBITMAP h[4] = {};
    int rc = -1;
    explicit Looks(int id) {
        rc = BLDAPI_GetBtnResourceBitmapHandle(id, &h[0], &h[1], &h[2], &h[3]);
    }
    ~Looks() {
        for (HBITMAP b : h)
            BLDAPI_ReleaseBitmap(b);
    }
    Looks(const Looks&) = delete;
    Looks& operator=(const Looks&) = delete;
};

std::string LibraryDir() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&BLDAPI_Initialize), &info);
    std::string path = info.dli_fname ? info.dli_fname : "";
    return path.substr(0, path.rfind('/') + 1);
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Points QVELNOR_SKIN_DIR somewhere (or nowhere) for one test; restores it.
class SkinDirOverride {
public:
    explicit SkinDirOverride(const std::optional<std::string>& dir) {
        if (const char* old = std::getenv("QVELNOR_SKIN_DIR"))
            m_old = old;
        if (dir) {
            setenv("QVELNOR_SKIN_DIR", dir->c_str(), 1);
        } else {
            unsetenv("QVELNOR_SKIN_DIR");
        }
    }
    ~SkinDirOverride() {
        if (m_old) {
            setenv("QVELNOR_SKIN_DIR", m_old->c_str(), 1);
        } else {
            unsetenv("QVELNOR_SKIN_DIR");
        }
    }

private:
    std::optional<std::string> m_old;
};

// ---- a small pack written by hand, from the documented layout -------------

void PutU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> Png(int w, int h, QRgb colour) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return {bytes.begin(), bytes.end()};
}

struct HandEntry {
    int id;
    std::uint32_t kind;  // 1 background, 2 button, 3 rectangle only
    SkinRect rect;
    std::vector<std::vector<std::uint8_t>> blobs;  // up to four; empty = none
};

constexpr std::size_t kHeader = 16, kEntry = 56;

std::vector<std::uint8_t> HandPack(const std::vector<HandEntry>& entries) {
    std::vector<std::uint8_t> b(kHeader + entries.size() * kEntry, 0);
    std::memcpy(b.data(), "QVSKIN1\0", 8);
    PutU32(b, 8, static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const HandEntry& e = entries[i];
        const std::size_t at = kHeader + i * kEntry;
        PutU32(b, at, static_cast<std::uint32_t>(e.id));
        PutU32(b, at + 4, e.kind);
        PutU32(b, at + 8, static_cast<std::uint32_t>(e.rect.left));
        PutU32(b, at + 12, static_cast<std::uint32_t>(e.rect.top));
        PutU32(b, at + 16, static_cast<std::uint32_t>(e.rect.right));
        PutU32(b, at + 20, static_cast<std::uint32_t>(e.rect.bottom));
        for (std::size_t s = 0; s < e.blobs.size(); ++s) {
            if (e.blobs[s].empty())
                continue;
            PutU32(b, at + 24 + 8 * s, static_cast<std::uint32_t>(b.size()));
            PutU32(b, at + 28 + 8 * s, static_cast<std::uint32_t>(e.blobs[s].size()));
            b.insert(b.end(), e.blobs[s].begin(), e.blobs[s].end());
        }
    }
    return b;
}

// A background 40 × 30 at (5, 6), a button 10 × 8 with no hover or disabled
// look, and a rectangle.
std::vector<HandEntry> SmallSkin() {
    return {
        {1, 1, {5, 6, 45, 36}, {Png(40, 30, qRgb(10, 20, 30))}},
        {2, 2, {1, 2, 11, 10}, {Png(10, 8, qRgb(1, 1, 1)), {}, Png(10, 8, qRgb(2, 2, 2)), {}}},
        {3, 3, {7, 8, 9, 10}, {}},
    };
}

class Pixmart : public ::testing::Test {
protected:
    void SetUp() override { BLDAPI_UnInitialize(); }
    void TearDown() override { BLDAPI_UnInitialize(); }

    // Writes `bytes` as a pack into a fresh folder and loads it by name from
    // there, the way a user-replaced pack is found.
    int LoadBytes(const std::vector<std::uint8_t>& bytes) {
        const std::string dir = testing_support::MakeTempDir("skin");
        WriteFile(dir + "/Pack.dll", bytes);
        SkinDirOverride over(dir);
        return BLDAPI_Initialize("Pack.dll", 1);
    }

    // Nothing of any pack answers.
    static void ExpectNothingLoaded() {
        for (int id : {1, 2, 3, 10001, 20000, 30105}) {
            EXPECT_TRUE(IsEmpty(RectOf(id))) << id;
            EXPECT_EQ(BLDAPI_GetResourceBitmapHandle(id), nullptr) << id;
            Looks looks(id);
            EXPECT_EQ(looks.rc, 0) << id;
            for (HBITMAP h : looks.h)
                EXPECT_EQ(h, nullptr) << id;
        }
    }
};

// ---- the default client pack -----------------------------------------------

class ClientPack : public Pixmart {
protected:
    void SetUp() override {
        Pixmart::SetUp();
        SkinDirOverride none(std::nullopt);  // found beside the library
        ASSERT_EQ(BLDAPI_Initialize(kClientPack, 1), kSkinOk);
    }
};

TEST_F(ClientPack, HoldsEveryIdTheClientAsksForWithPicturesOfItsSize) {
    for (const IdRange& range : kClientIds) {
        for (int id : IdsOf(range)) {
            SCOPED_TRACE(id);
            SkinRect r{};
            ASSERT_EQ(BLDAPI_GetResourceRect(id, &r), 1);
            const QRect rect = ToQRect(r);
            EXPECT_GT(rect.width(), 0);
            EXPECT_GT(rect.height(), 0);
            HBITMAP background = BLDAPI_GetResourceBitmapHandle(id);
            Looks looks(id);
            switch (range.kind) {
                case Kind::Background:
                    ASSERT_NE(background, nullptr);
                    EXPECT_EQ(background->size(), rect.size());
                    EXPECT_EQ(looks.rc, 0);
                    break;
                case Kind::Button:
                    EXPECT_EQ(background, nullptr);
                    ASSERT_EQ(looks.rc, 1);
                    for (HBITMAP h : looks.h) {
                        ASSERT_NE(h, nullptr);
                        EXPECT_EQ(h->size(), rect.size());
                    }
                    break;
                case Kind::RectOnly:
                    EXPECT_EQ(background, nullptr);
                    EXPECT_EQ(looks.rc, 0);
                    break;
            }
        }
    }
}

TEST_F(ClientPack, EveryLookOfEveryButtonIsDistinct) {
    // Pressed must read differently from normal (checked toggles show the
    // pressed look), and hover and disabled must be visible changes too.
    for (const IdRange& range : kClientIds) {
        if (range.kind != Kind::Button)
            continue;
        for (int id : IdsOf(range)) {
            SCOPED_TRACE(id);
            Looks looks(id);
            ASSERT_EQ(looks.rc, 1);
            for (int a = 0; a < 4; ++a) {
                for (int b = a + 1; b < 4; ++b)
                    EXPECT_NE(*looks.h[a], *looks.h[b]) << a << " vs " << b;
            }
        }
    }
}

TEST_F(ClientPack, ViewBackgroundShowsTheVideoThroughExactlyTheVideoArea) {
    const SkinRect bk = RectOf(10001);
    EXPECT_EQ(bk.left, 0);
    EXPECT_EQ(bk.top, 0);
    EXPECT_EQ(bk.right, 1024);
    EXPECT_EQ(bk.bottom, 768);
    const QImage& bg = *BLDAPI_GetResourceBitmapHandle(10001);
    const QRect video = ToQRect(RectOf(30105));
    ASSERT_TRUE(bg.rect().contains(video));

    const QRgb key = qRgb(0, 0, 255);
    long blueInside = 0, blueOutside = 0;
    for (int y = 0; y < bg.height(); ++y) {
        for (int x = 0; x < bg.width(); ++x) {
            if (bg.pixel(x, y) != key)
                continue;
            (video.contains(x, y) ? blueInside : blueOutside)++;
        }
    }
    EXPECT_EQ(blueInside, static_cast<long>(video.width()) * video.height());
    // A stray key pixel elsewhere would be a hole in the view's face.
    EXPECT_EQ(blueOutside, 0);
    for (QPoint corner : {QPoint(0, 0), QPoint(bg.width() - 1, 0), QPoint(0, bg.height() - 1),
                          QPoint(bg.width() - 1, bg.height() - 1)}) {
        EXPECT_NE(bg.pixel(corner), key) << corner.x() << "," << corner.y();
    }
}

// The controls of one window: each inside it, none over another.
struct WindowLayout {
    const char* name;
    int background;
    std::vector<int> ids;
};

std::vector<int> Concat(std::initializer_list<std::vector<int>> parts) {
    std::vector<int> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST_F(ClientPack, ControlsLieInsideTheirWindowWithoutOverlapping) {
    const std::vector<WindowLayout> windows = {
        {"view", 10001,
         Concat(
             {IdsOf({20000, 20084, 4, Kind::Button}), IdsOf({30100, 30107, 1, Kind::RectOnly})})},
        {"key panel", 10002, IdsOf({20200, 20320, 4, Kind::Button})},
        {"playback panel", 10003, IdsOf({20400, 20436, 4, Kind::Button})},
        // Pages of the search dialog share one area; the controls of one page
        // and those shown on every page must not overlap.
        {"search, time page", 10004,
         Concat({{20600, 20604, 20608, 20612, 20620, 30108, 30109, 30116, 10005},
                 IdsOf({30110, 30115, 1, Kind::RectOnly})})},
        {"search, event page",
         10004,
         {20600, 20604, 20608, 20612, 20620, 20624, 20628, 30108, 30109, 30117, 30118, 30119,
          30120}},
        {"search, record page", 10004, {20600, 20604, 20608, 20612, 20620, 30108, 30109, 30121}},
    };
    for (const WindowLayout& w : windows) {
        SCOPED_TRACE(w.name);
        // Client coordinates: the window's own size from its origin.
        const QRect client(QPoint(0, 0), ToQRect(RectOf(w.background)).size());
        std::vector<QRect> rects;
        for (int id : w.ids) {
            rects.push_back(ToQRect(RectOf(id)));
            EXPECT_TRUE(client.contains(rects.back())) << id;
        }
        for (std::size_t a = 0; a < rects.size(); ++a) {
            for (std::size_t b = a + 1; b < rects.size(); ++b) {
                EXPECT_FALSE(rects[a].intersects(rects[b])) << w.ids[a] << " and " << w.ids[b];
            }
        }
    }
}

TEST_F(ClientPack, SliderPicturesFitTheSlider) {
    EXPECT_EQ(ToQRect(RectOf(10005)), ToQRect(RectOf(10006)));
    // The slider draws its thumb with the top-left pixel's colour left out.
    Looks thumb(20616);
    ASSERT_EQ(thumb.rc, 1);
    for (int look : {0, 2}) {
        const QImage& t = *thumb.h[look];
        EXPECT_EQ(t.pixel(0, 0), qRgb(255, 0, 255));
        EXPECT_NE(t.pixel(t.width() / 2, t.height() / 2), t.pixel(0, 0));
        EXPECT_LE(t.height(), RectOf(10005).bottom - RectOf(10005).top);
    }
    EXPECT_NE(*BLDAPI_GetResourceBitmapHandle(10005), *BLDAPI_GetResourceBitmapHandle(10006));
}

TEST_F(ClientPack, ButtonPicturesAreIndependentCopiesOwnedByTheCaller) {
    HBITMAP first[4] = {}, second[4] = {};
    ASSERT_EQ(BLDAPI_GetBtnResourceBitmapHandle(20000, &first[0], &first[1], &first[2], &first[3]),
              1);
    ASSERT_EQ(
        BLDAPI_GetBtnResourceBitmapHandle(20000, &second[0], &second[1], &second[2], &second[3]),
        1);
    const QImage original = first[0]->copy();
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(first[i], second[i]);

    first[0]->fill(Qt::red);  // the caller draws on its own copy
    EXPECT_EQ(*second[0], original);
    {
        Looks fresh(20000);
        EXPECT_EQ(*fresh.h[0], original);
    }
    // The caller's pictures outlive the pack.
    BLDAPI_UnInitialize();
    EXPECT_EQ(*second[0], original);
    EXPECT_EQ(first[0]->pixel(0, 0), QColor(Qt::red).rgb());
    for (int i = 0; i < 4; ++i) {
        BLDAPI_ReleaseBitmap(first[i]);
        BLDAPI_ReleaseBitmap(second[i]);
    }
}

TEST_F(ClientPack, ReleasingWhatWasNotHandedOutIsHarmless) {
    BLDAPI_ReleaseBitmap(nullptr);
    HBITMAP background = BLDAPI_GetResourceBitmapHandle(10001);
    BLDAPI_ReleaseBitmap(background);  // borrowed: must stay alive
    EXPECT_EQ(BLDAPI_GetResourceBitmapHandle(10001), background);
    EXPECT_EQ(background->width(), 1024);

    HBITMAP n = nullptr, h = nullptr, p = nullptr, d = nullptr;
    BLDAPI_GetBtnResourceBitmapHandle(20000, &n, &h, &p, &d);
    BLDAPI_ReleaseBitmap(n);
    BLDAPI_ReleaseBitmap(n);  // given back twice: the second time is ignored
    BLDAPI_ReleaseBitmap(h);
    BLDAPI_ReleaseBitmap(p);
    BLDAPI_ReleaseBitmap(d);
}

TEST_F(ClientPack, UnknownIdsAndWrongKindsGiveNothing) {
    HBITMAP sentinel = reinterpret_cast<HBITMAP>(std::uintptr_t{1});
    for (int id : {0, -1, 1, 10000, 10007, 20002, 20088, 20324, 20440, 30099, 30122}) {
        SCOPED_TRACE(id);
        SkinRect r{1, 2, 3, 4};
        EXPECT_EQ(BLDAPI_GetResourceRect(id, &r), 0);
        EXPECT_TRUE(IsEmpty(r));
        EXPECT_EQ(BLDAPI_GetResourceBitmapHandle(id), nullptr);
        HBITMAP out[4] = {sentinel, sentinel, sentinel, sentinel};
        EXPECT_EQ(BLDAPI_GetBtnResourceBitmapHandle(id, &out[0], &out[1], &out[2], &out[3]), 0);
        for (HBITMAP h : out)
            EXPECT_EQ(h, nullptr);
    }
    // A background has no button looks, a button no background, a
    // rectangle neither.
    {
        Looks looks(10001);
        EXPECT_EQ(looks.rc, 0);
        for (HBITMAP h : looks.h)
            EXPECT_EQ(h, nullptr);
    }
    EXPECT_EQ(BLDAPI_GetResourceBitmapHandle(20000), nullptr);
    EXPECT_EQ(BLDAPI_GetResourceBitmapHandle(30105), nullptr);
    EXPECT_EQ(BLDAPI_GetResourceRect(10001, nullptr), 1);  // no rectangle to fill: no crash
}

TEST_F(ClientPack, UnInitializeEmptiesAndInitializeLoadsAgain) {
    BLDAPI_UnInitialize();
    ExpectNothingLoaded();
    BLDAPI_UnInitialize();  // twice is fine
    ASSERT_EQ(BLDAPI_Initialize(kClientPack, 1), kSkinOk);
    EXPECT_EQ(RectOf(30105).right - RectOf(30105).left, 720);
    ASSERT_EQ(BLDAPI_Initialize(kClientPack, 1), kSkinOk);  // again, without UnInitialize
    EXPECT_NE(BLDAPI_GetResourceBitmapHandle(10001), nullptr);
}

TEST_F(ClientPack, IsFoundByAbsolutePathAndInTheSkinFolder) {
    const std::string besideLibrary = LibraryDir() + kClientPack;
    BLDAPI_UnInitialize();
    {
        // An absolute path wins over the skin folder.
        SkinDirOverride elsewhere(testing_support::MakeTempDir("empty-skins"));
        ASSERT_EQ(BLDAPI_Initialize(besideLibrary.c_str(), 1), kSkinOk);
        EXPECT_EQ(RectOf(10001).right, 1024);
        // A name alone is looked up in the skin folder only.
        EXPECT_EQ(BLDAPI_Initialize(kClientPack, 1), kSkinPackMissing);
    }
    const std::string dir = testing_support::MakeTempDir("skins");
    WriteFile(dir + "/" + kClientPack, ReadFile(besideLibrary));
    SkinDirOverride folder(dir);
    EXPECT_EQ(BLDAPI_Initialize(kClientPack, 1), kSkinOk);
    EXPECT_EQ(RectOf(10001).right, 1024);
}

// ---- packs of our own making ----------------------------------------------

TEST_F(Pixmart, LoadsAReplacementPack) {
    ASSERT_EQ(LoadBytes(HandPack(SmallSkin())), kSkinOk);
    const SkinRect bk = RectOf(1);
    EXPECT_EQ(ToQRect(bk), QRect(5, 6, 40, 30));
    ASSERT_NE(BLDAPI_GetResourceBitmapHandle(1), nullptr);
    EXPECT_EQ(BLDAPI_GetResourceBitmapHandle(1)->pixel(3, 3), qRgb(10, 20, 30));

    Looks button(2);
    ASSERT_EQ(button.rc, 1);
    ASSERT_NE(button.h[0], nullptr);
    EXPECT_EQ(button.h[0]->pixel(0, 0), qRgb(1, 1, 1));
    EXPECT_EQ(button.h[1], nullptr);  // the pack has no hover look
    ASSERT_NE(button.h[2], nullptr);
    EXPECT_EQ(button.h[2]->pixel(0, 0), qRgb(2, 2, 2));
    EXPECT_EQ(button.h[3], nullptr);
    {
        // Any output may be left out.
        HBITMAP pressed = nullptr;
        EXPECT_EQ(BLDAPI_GetBtnResourceBitmapHandle(2, nullptr, nullptr, &pressed, nullptr), 1);
        EXPECT_NE(pressed, nullptr);
        BLDAPI_ReleaseBitmap(pressed);
    }
    EXPECT_EQ(ToQRect(RectOf(3)), QRect(7, 8, 2, 2));
    EXPECT_TRUE(IsEmpty(RectOf(10001)));  // the client pack is not mixed in
}

TEST_F(Pixmart, MissingPacksAreReportedAsMissing) {
    const std::string emptyDir = testing_support::MakeTempDir("no-skins");
    SkinDirOverride over(emptyDir);
    EXPECT_EQ(BLDAPI_Initialize("NoSuchPack.dll", 1), kSkinPackMissing);
    EXPECT_EQ(BLDAPI_Initialize((emptyDir + "/NoSuchPack.dll").c_str(), 1), kSkinPackMissing);
    EXPECT_EQ(BLDAPI_Initialize(emptyDir.c_str(), 1), kSkinPackMissing);  // a folder
    EXPECT_EQ(BLDAPI_Initialize("", 1), kSkinPackMissing);
    EXPECT_EQ(BLDAPI_Initialize(nullptr, 1), kSkinPackMissing);
    ExpectNothingLoaded();
}

TEST_F(Pixmart, DamagedPacksLoadNothing) {
    const std::vector<std::uint8_t> good = HandPack(SmallSkin());
    const std::size_t button = kHeader + kEntry;  // index entry of id 2
    const std::size_t firstBlob = kHeader + 3 * kEntry;

    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Case> cases;
    auto edit = [&](const char* what, auto change) {
        std::vector<std::uint8_t> b = good;
        change(b);
        cases.push_back({what, std::move(b)});
    };
    cases.push_back({"empty file", {}});
    cases.push_back({"text", std::vector<std::uint8_t>(std::begin("not a skin pack at all, sorry"),
                                                       std::end("not a skin pack at all, sorry"))});
    edit("wrong magic", [](auto& b) { b[6] = '2'; });
    edit("count beyond the index", [](auto& b) { PutU32(b, 8, 4); });
    edit("absurd count", [](auto& b) { PutU32(b, 8, 0xFFFFFFFFu); });
    edit("unknown kind", [&](auto& b) { PutU32(b, button + 4, 7); });
    edit("kind 0", [&](auto& b) { PutU32(b, button + 4, 0); });
    edit("repeated id", [&](auto& b) { PutU32(b, button, 1); });
    edit("right left of left", [&](auto& b) { PutU32(b, button + 16, 0); });
    edit("bottom above top", [&](auto& b) { PutU32(b, button + 20, 1); });
    edit("blob past the end",
         [&](auto& b) { PutU32(b, button + 24, static_cast<std::uint32_t>(b.size())); });
    edit("blob length past the end", [&](auto& b) { PutU32(b, button + 28, 0x7FFFFFFFu); });
    edit("offset + length wraps", [&](auto& b) { PutU32(b, button + 28, 0xFFFFFFF0u); });
    edit("blob inside the index", [&](auto& b) { PutU32(b, button + 24, 20); });
    edit("background without picture", [](auto& b) { PutU32(b, kHeader + 28, 0); });
    edit("picture on a rectangle", [&](auto& b) {
        PutU32(b, kHeader + 2 * kEntry + 24, static_cast<std::uint32_t>(firstBlob));
        PutU32(b, kHeader + 2 * kEntry + 28, 8);
    });
    edit("second picture on a background", [](auto& b) {
        PutU32(b, kHeader + 32, static_cast<std::uint32_t>(firstBlob));
        PutU32(b, kHeader + 36, 8);
    });
    edit("picture bytes spoilt", [&](auto& b) {
        for (std::size_t i = firstBlob + 16; i < firstBlob + 40; ++i)
            b[i] ^= 0x5A;
    });
    {
        // A true picture, but wider than any skin needs (9,000 pixels): a
        // pack announcing such sizes is refused before anything is decoded.
        std::vector<HandEntry> huge = SmallSkin();
        huge[0].blobs[0] = Png(9000, 1, qRgb(10, 20, 30));
        cases.push_back({"picture too large", HandPack(huge)});
    }
    for (std::size_t cut : {std::size_t{0}, std::size_t{7}, kHeader - 1, kHeader, kHeader + kEntry,
                            firstBlob - 1, firstBlob, firstBlob + 30, good.size() - 1}) {
        cases.push_back({"cut short", std::vector<std::uint8_t>(good.begin(), good.begin() + cut)});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Something loaded before is gone after a failed load, too.
        ASSERT_EQ(LoadBytes(good), kSkinOk);
        EXPECT_EQ(LoadBytes(c.bytes), kSkinPackDamaged);
        ExpectNothingLoaded();
    }
}

TEST_F(Pixmart, TheClientPackCutAnywhereIsRefused) {
    const std::vector<std::uint8_t> whole = ReadFile(LibraryDir() + kClientPack);
    ASSERT_GT(whole.size(), 1000u);
    for (std::size_t cut = 0; cut < whole.size(); cut += 1 + cut / 3) {
        SCOPED_TRACE(cut);
        ASSERT_EQ(LoadBytes(std::vector<std::uint8_t>(whole.begin(), whole.begin() + cut)),
                  kSkinPackDamaged);
    }
    ExpectNothingLoaded();
}

}  // namespace
