# FFmpeg's codec, scaling and utility libraries, found once for the whole tree.
# Every folder that needs them includes this file; the imported target
# PkgConfig::FFMPEG is global so that the first inclusion serves all.
include_guard(GLOBAL)
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET GLOBAL libavcodec libavutil libswscale)
