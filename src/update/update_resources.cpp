#include "update_resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares the collection's initialiser in the enclosing scope, so it must not
// stand inside a namespace.
static void initUpdatePictures()
{
    Q_INIT_RESOURCE(update_pictures);
}

namespace UpdateResources {

void init()
{
    initUpdatePictures();
}

} // namespace UpdateResources
