// Pixmart: loads a skin pack (skin_pack.h) and answers the client's
// BLDAPI_* calls from it.
//
// Everything is decoded at BLDAPI_Initialize, so a pack is either loaded as a
// whole or not at all, and later calls never fail half-way. Button pictures
// are handed out as new QImage objects that share the decoded pixels (Qt's
// copy-on-write), so several holders of the same look never see each other's
// drawing and nothing dangles after BLDAPI_UnInitialize.

#include "panels/pixmart.h"

#include <dlfcn.h>
#include <QBuffer>
#include <QImageReader>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "outside/pixmart/skin_pack.h"

namespace {

// No picture in a client skin comes near this; a PNG header announcing more
// is damage (or an attempt to make us allocate gigabytes).
constexpr int kMaxPictureSide = 8192;

struct Resource {
    pixmart::PackKind kind = pixmart::PackKind::RectOnly;
    SkinRect rect;
    std::array<QImage, 4> pictures;  // background in [0]; null = none
};

struct SkinState {
    std::mutex lock;
    std::map<int, Resource> resources;
    // Button pictures handed out and not yet given back. Releasing anything
    // else (a borrowed background, a handle given back twice) is ignored.
    std::unordered_set<QImage*> issued;
};

SkinState& State() {
    static SkinState* state = new SkinState;  // lives to the end of the process
    return *state;
}

std::string LibraryDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&BLDAPI_Initialize), &info) == 0 || !info.dli_fname) {
        return {};
    }
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash + 1);
}

// Absolute path as given; else $QVELNOR_SKIN_DIR/name; else beside this library.
std::string ResolvePackPath(const std::string& name) {
    if (name.front() == '/')
        return name;
    if (const char* dir = std::getenv("QVELNOR_SKIN_DIR"); dir && *dir) {
        std::string d = dir;
        if (d.back() != '/')
            d += '/';
        return d + name;
    }
    return LibraryDirectory() + name;
}

// 0, kSkinPackMissing or kSkinPackDamaged; `bytes` holds the whole file on 0.
int ReadPackFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return kSkinPackMissing;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return kSkinPackMissing;
    const std::streamoff size = in.tellg();
    if (size < 0)
        return kSkinPackDamaged;
    if (static_cast<std::uint64_t>(size) > pixmart::kPackMaxBytes)
        return kSkinPackDamaged;
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size))
        return kSkinPackDamaged;
    return kSkinOk;
}

bool DecodePicture(std::span<const std::uint8_t> blob, QImage& out) {
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(blob.data()),
                                              static_cast<qsizetype>(blob.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxPictureSide || size.height() > kMaxPictureSide) {
        return false;
    }
    QImage image;
    if (!reader.read(&image))
        return false;
    // Pictures are copied opaque; one pixel format keeps the colour key exact.
    out = image.convertToFormat(QImage::Format_RGB32);
    return !out.isNull();
}

int LoadPack(const std::string& path, std::map<int, Resource>& out) {
    std::vector<std::uint8_t> bytes;
    if (int rc = ReadPackFile(path, bytes); rc != kSkinOk)
        return rc;
    std::vector<pixmart::PackEntryView> entries;
    if (!pixmart::ReadPackIndex(bytes, entries))
        return kSkinPackDamaged;
    for (const pixmart::PackEntryView& e : entries) {
        Resource r;
        r.kind = e.kind;
        r.rect = {e.rect.left, e.rect.top, e.rect.right, e.rect.bottom};
        for (std::size_t slot = 0; slot < e.blobs.size(); ++slot) {
            if (e.blobs[slot].empty())
                continue;
            if (!DecodePicture(e.blobs[slot], r.pictures[slot]))
                return kSkinPackDamaged;
        }
        out.emplace(e.id, std::move(r));
    }
    return kSkinOk;
}

void ClearLocked(SkinState& s) {
    // Handles already given out stay valid: they share, not borrow, pixels.
    s.resources.clear();
}

}  // namespace

extern "C" {

PIXMART_EXPORT int BLDAPI_Initialize(const char* resourceLibrary, int /*mode*/) {
    SkinState& s = State();
    std::lock_guard guard(s.lock);
    ClearLocked(s);
    if (!resourceLibrary || !*resourceLibrary)
        return kSkinPackMissing;
    std::map<int, Resource> loaded;
    const int rc = LoadPack(ResolvePackPath(resourceLibrary), loaded);
    if (rc == kSkinOk)
        s.resources = std::move(loaded);
    return rc;
}

PIXMART_EXPORT void BLDAPI_UnInitialize() {
    SkinState& s = State();
    std::lock_guard guard(s.lock);
    ClearLocked(s);
}

PIXMART_EXPORT int BLDAPI_GetResourceRect(int id, SkinRect* rect) {
    SkinState& s = State();
    std::lock_guard guard(s.lock);
    const auto it = s.resources.find(id);
    if (rect)
        *rect = it == s.resources.end() ? SkinRect{} : it->second.rect;
    return it == s.resources.end() ? 0 : 1;
}

PIXMART_EXPORT HBITMAP BLDAPI_GetResourceBitmapHandle(int id) {
    SkinState& s = State();
    std::lock_guard guard(s.lock);
    const auto it = s.resources.find(id);
    if (it == s.resources.end() || it->second.kind != pixmart::PackKind::Background) {
        return nullptr;
    }
    return &it->second.pictures[0];
}

PIXMART_EXPORT int BLDAPI_GetBtnResourceBitmapHandle(int id, HBITMAP* normal, HBITMAP* hover,
                                                     HBITMAP* pressed, HBITMAP* disabled) {
    SkinState& s = State();
    std::lock_guard guard(s.lock);
    const std::array<HBITMAP*, 4> outs{normal, hover, pressed, disabled};
    for (HBITMAP* o : outs) {
        if (o)
            *o = nullptr;
    }
    const auto it = s.resources.find(id);
    if (it == s.resources.end() || it->second.kind != pixmart::PackKind::Button)
        return 0;
    for (std::size_t slot = 0; slot < outs.size(); ++slot) {
        const QImage& picture = it->second.pictures[slot];
        if (!outs[slot] || picture.isNull())
            continue;
        auto* copy = new QImage(picture);
        s.issued.insert(copy);
        *outs[slot] = copy;
    }
    return 1;
}

PIXMART_EXPORT void BLDAPI_ReleaseBitmap(HBITMAP bitmap) {
    if (!bitmap)
        return;
    SkinState& s = State();
    std::lock_guard guard(s.lock);
    if (s.issued.erase(bitmap) == 1)
        delete bitmap;
}

}  // extern "C"
