// The file version of the control library, read back from the library file by
// the version text of the view.

#include "platform/module_info.h"

QV_DEFINE_VERSION_RESOURCE(QV_VERSION_MAJOR, QV_VERSION_MINOR, QV_VERSION_BUILD, QV_VERSION_REVISION);
