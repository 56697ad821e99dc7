#pragma once
// The information windows' pictures and read-me text live in a resource file of their
// own, compiled into a static library: it must be registered before first use.

namespace sequora {

/// Registers the resources under ":/info" and ":/readme" (once; later calls do nothing).
void initInfoResources();

} // namespace sequora
