// The update dialog's pictures (":/image/…" and the window icon ":/marlith/icon.png") live in this
// static library; a resource collection in a static library is only linked and registered when
// someone calls its initialiser. The application calls init() once at start-up, before the style
// sheet that names these pictures is applied.
#pragma once

namespace UpdateResources {

void init();

} // namespace UpdateResources
