#pragma once
// The default client skin: every resource id the client asks for, with the
// layout tables that place them, rendered into skin pack entries.

#include <QImage>
#include <QString>

#include <utility>
#include <vector>

#include "outside/pixmart/skin_pack.h"

namespace clientskin {

struct RenderedSkin {
    std::vector<pixmart::PackEntryData> entries;
    // Named pictures of each window with its buttons at rest, for looking at.
    std::vector<std::pair<QString, QImage>> previews;
};

RenderedSkin RenderClientSkin();

}  // namespace clientskin
