#include "app/app_resources.h"

#include <QtCore/qglobal.h>

#include <mutex>

// Q_INIT_RESOURCE must be called from the global namespace.
static void RegisterResources() {
    Q_INIT_RESOURCE(tavrin);
}

void InitAppResources() {
    static std::once_flag once;
    std::call_once(once, RegisterResources);
}
