#include "info/InfoResources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerInfoResources()
{
    Q_INIT_RESOURCE(info);
}

namespace sequora {

void initInfoResources()
{
    static const bool done = (registerInfoResources(), true);
    Q_UNUSED(done);
}

} // namespace sequora
