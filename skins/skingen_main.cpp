// qvelnor-skingen: renders the default client skin into a skin pack.
//
//   qvelnor-skingen --out FILE [--preview DIR]
//
// --preview writes PNG pictures of each window with its buttons at rest (and
// one sheet with the four looks of some buttons) for checking the artwork.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>

#include <cstdio>
#include <cstring>
#include <map>

#include "outside/pixmart/skin_pack.h"
#include "skins/client_skin.h"
#include "skins/skin_art.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: qvelnor-skingen --out FILE [--preview DIR]\n");
    return 2;
}

// Rows of buttons in their four looks, left to right: normal, hover, pressed,
// disabled.
QImage LooksSheet(const std::vector<pixmart::PackEntryData>& entries, const std::vector<int>& ids) {
    std::map<int, const pixmart::PackEntryData*> byId;
    for (const auto& e : entries)
        byId[e.id] = &e;
    std::vector<std::array<QImage, 4>> rows;
    int cellW = 0, cellH = 0;
    for (int id : ids) {
        const auto it = byId.find(id);
        if (it == byId.end())
            continue;
        std::array<QImage, 4> looks;
        for (int i = 0; i < 4; ++i) {
            looks[i].loadFromData(reinterpret_cast<const uchar*>(it->second->blobs[i].data()),
                                  static_cast<int>(it->second->blobs[i].size()), "PNG");
            cellW = std::max(cellW, looks[i].width());
            cellH = std::max(cellH, looks[i].height());
        }
        rows.push_back(looks);
    }
    const int pad = 10;
    QImage sheet(pad + 4 * (cellW + pad), pad + static_cast<int>(rows.size()) * (cellH + pad),
                 QImage::Format_RGB32);
    sheet.fill(skinart::theme::kWindow);
    QPainter p(&sheet);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (int i = 0; i < 4; ++i) {
            p.drawImage(pad + i * (cellW + pad), pad + static_cast<int>(r) * (cellH + pad),
                        rows[r][i]);
        }
    }
    return sheet;
}

}  // namespace

int main(int argc, char** argv) {
    const char* out = nullptr;
    const char* previewDir = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            out = argv[++i];
        } else if (std::strcmp(argv[i], "--preview") == 0 && i + 1 < argc) {
            previewDir = argv[++i];
        } else {
            return Usage();
        }
    }
    if (!out)
        return Usage();

    // Fonts need a GUI application; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const clientskin::RenderedSkin skin = clientskin::RenderClientSkin();
    const std::vector<std::uint8_t> bytes = pixmart::WritePack(skin.entries);

    // Write beside the target and rename, so a build never leaves half a pack.
    const QString target = QString::fromLocal8Bit(out);
    const QString temp = target + ".tmp";
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()) ||
        !file.flush()) {
        std::fprintf(stderr, "qvelnor-skingen: cannot write %s\n", qPrintable(temp));
        return 1;
    }
    file.close();
    QFile::remove(target);
    if (!QFile::rename(temp, target)) {
        std::fprintf(stderr, "qvelnor-skingen: cannot write %s\n", out);
        return 1;
    }

    if (previewDir) {
        QDir dir(QString::fromLocal8Bit(previewDir));
        dir.mkpath(".");
        for (const auto& [name, image] : skin.previews)
            image.save(dir.filePath(name + ".png"));
        LooksSheet(skin.entries, {20000, 20012, 20044, 20020, 20084, 20200, 20264, 20280, 20404,
                                  20428, 20608, 20616})
            .save(dir.filePath("looks.png"));
    }
    return 0;
}
